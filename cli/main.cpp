// qvjournal: the journal tool's console entry point on Linux, where names are bytes as they are.
#include <cstdio>

#include "cli/journal_tool.h"

int main(int argc, char** argv) {
    return RunJournalTool(argc, argv, stdout, stderr);
}
