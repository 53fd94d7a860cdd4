// qvjournal: reads, edits, trims, joins and loops journal files from the command line.
//
//   qvjournal COMMAND [ARGUMENTS] [OPTIONS] INPUT... -o OUTPUT
//
// The whole program is this function, so that tests call it as the console calls main: it
// writes its results to `out` and its complaints to `err`, and returns the exit code (0 done,
// 2 refused, with nothing written).
#pragma once

#include <cstdio>

int RunJournalTool(int argc, char** argv, FILE* out, FILE* err);
