// The journal tool's commands: what each takes and what its --help says.
#pragma once

#include <cstdio>
#include <string>

namespace qvjournal {

const int kDone = 0;
const int kRefused = 2;

// Says on `err` what is wrong; returns kRefused.
int Refuse(FILE* err, const std::string& what);

// The tool's usage, for `qvjournal --help` and a call without a command.
extern const char kOverview[];

// The driver (journal_tool.cpp): parses a command's words and runs its handler.
class Tool;

struct Command {
    const char* name;
    const char* usage;
    const char* help;
    const char* options;   // accepted besides --help, with a value unless marked '!'
    const char* argument;  // the word before the inputs (N, FACTOR), or null
    int fewestInputs;
    int mostInputs;
    int output;  // 0 none, 1 optional, 2 required
    int (*run)(Tool& tool);
};

// The handlers the table names, in journal_tool.cpp.
int RunInfo(Tool& tool);
int RunDump(Tool& tool);
int RunBuild(Tool& tool);
int RunEdit(Tool& tool);
int RunPictures(Tool& tool);

// The command of that name; null when there is none.
const Command* FindCommand(const std::string& name);

}  // namespace qvjournal
