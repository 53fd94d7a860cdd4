// The journal tool's commands: what each takes and what its --help says.
#include "cli/journal_commands.h"

namespace qvjournal {

const char kOverview[] =
    "usage: qvjournal COMMAND [ARGUMENTS] [OPTIONS] INPUT... -o OUTPUT\n"
    "\n"
    "Reads and changes the journal files (.Jnf) that Quorvatellianis records; load the result\n"
    "with Load Record or play it with -P. A journal's sound track, the file beside it named\n"
    "with _ appended, follows wherever the timeline is kept.\n"
    "\n"
    "commands:\n"
    "  info FILE                             what a journal holds, whether the program loads it\n"
    "  dump FILE [-o TEXT]                   its events as text, one a line\n"
    "  build TEXT -o FILE                    a journal made from such a text\n"
    "  repeat N [--gap MS] FILE -o OUT       the recording N times in a row\n"
    "  cat [--gap MS] FILE... -o OUT         recordings one after another\n"
    "  cut [--from MS] [--to MS] FILE -o OUT the events from one time to another\n"
    "  speed FACTOR [--from MS] [--to MS] FILE -o OUT\n"
    "                                        faster (2) or slower (0.5)\n"
    "  moves --drop FILE -o OUT              without its mouse moves\n"
    "  moves --simplify MS FILE -o OUT       runs of moves closer than MS merged into the last\n"
    "  trim FILE -o OUT                      without the hotkeys that started and stopped it\n"
    "  pictures FILE -o FOLDER               the screen around each press, as BMP files\n"
    "\n"
    "Times are milliseconds from the first event. An edit keeps the windows that the events\n"
    "belong to, so the replay can follow them; --no-windows leaves them out, for a file that\n"
    "plays by absolute screen positions. It keeps the pictures that each press waits for and\n"
    "the motion of moves too; --no-screens and --no-motion leave those out.\n"
    "'qvjournal COMMAND --help' tells more.\n"
    "Every output is written whole or not at all: a file it replaces stays as it was until\n"
    "the new one is complete. Exit code 0 when done, 2 when refused.\n";

namespace {

const Command kCommands[] = {
    {"info", "info FILE",
     "Shows the header's fields, the events by kind, their first and last time and span,\n"
     "whether the program would load the file (and if not, why), the windows and how often\n"
     "they moved, how many presses have pictures and moves motion, and the sound track beside\n"
     "it. Exit code 2 when the program would not load the file.\n",
     "", nullptr, 1, 1, 0, RunInfo},
    {"dump", "dump FILE [-o TEXT]",
     "Writes the events as text, one a line: the gap in ms since the event before, then what\n"
     "happened (the key by name with its scan code, the button, the wheel's turn, the screen\n"
     "position). Edit it and make a journal of it again with build; without -o the text goes\n"
     "to the standard output.\n",
     "--output", nullptr, 1, 1, 1, RunDump},
    {"build", "build TEXT -o FILE",
     "Makes a journal of a text as dump writes it. A dumped file builds to the very same\n"
     "bytes. A line that cannot be read is reported with its number, and nothing is written.\n"
     "FILE gets no sound track: one left beside it from before is removed.\n",
     "--output", nullptr, 1, 1, 2, RunBuild},
    {"repeat", "repeat N [--gap MS] FILE -o OUT",
     "Plays the recording N times in a row. Between the end of one time and the start of the\n"
     "next it waits MS, by default as long as between its last two events. The sound track\n"
     "is repeated with it, cut or filled with silence to each start.\n",
     "--output --gap --no-windows! --no-screens! --no-motion!", "N", 1, 1, 2, RunEdit},
    {"cat", "cat [--gap MS] FILE... -o OUT",
     "Joins recordings one after another. Between the end of one and the start of the next\n"
     "it waits MS, by default as long as between the last two events of the one before. Their\n"
     "sound tracks are joined the same way; one without a track is silent.\n",
     "--output --gap --no-windows! --no-screens! --no-motion!", nullptr, 1, 1000000, 2, RunEdit},
    {"cut", "cut [--from MS] [--to MS] FILE -o OUT",
     "Keeps the events from --from to --to ms after the first event, both ends included\n"
     "(default: from the start, to the end). Kept events keep their times; the sound track\n"
     "is cut to start at the first kept event and end at --to.\n",
     "--output --from --to --no-windows! --no-screens! --no-motion!", nullptr, 1, 1, 2, RunEdit},
    {"speed", "speed FACTOR [--from MS] [--to MS] FILE -o OUT",
     "Plays faster (FACTOR above 1: 2 halves every pause) or slower (below 1: 0.5 doubles\n"
     "them). With --from and --to only the pauses between events within that part change.\n"
     "The sound cannot follow: OUT gets no sound track, and one left from before is removed.\n",
     "--output --from --to --no-windows! --no-screens! --no-motion!", "FACTOR", 1, 1, 2, RunEdit},
    {"moves", "moves (--drop | --simplify MS) FILE -o OUT",
     "--drop leaves out every mouse move; --simplify MS merges each run of moves that follow\n"
     "one another by less than MS into its last move. Clicks, keys and the wheel stay where\n"
     "they were, and so does the sound track.\n",
     "--output --drop! --simplify --no-windows! --no-screens! --no-motion!", nullptr, 1, 1, 2,
     RunEdit},
    {"trim", "trim FILE -o OUT",
     "Leaves out the program's own hotkeys that a recording made by an older version holds:\n"
     "at the start the releases of the Ctrl+Alt+Shift chord that started it, at the end the\n"
     "chord that stopped it (Ctrl+Alt+Shift+S, or +Delete in a record run). Everything else,\n"
     "its windows and its sound track stay as they were. Says what it removed.\n",
     "--output --no-windows! --no-screens! --no-motion!", nullptr, 1, 1, 2, RunEdit},
    {"pictures", "pictures FILE -o FOLDER",
     "Writes the picture of the screen around each press, which the replay waits to see before\n"
     "it presses, as a BMP file into FOLDER (which must exist): 0012-left-down-at-1500ms.bmp\n"
     "for the 12th event, a press of the left button 1.5 s after the first event; -plain at\n"
     "the end of the name marks a picture too plain to check, whose press waits for nothing.\n"
     "Pixels that lay on no monitor show as a grey and white checker.\n",
     "--output", nullptr, 1, 1, 2, RunPictures},
};

}  // namespace

int Refuse(FILE* err, const std::string& what) {
    fprintf(err, "qvjournal: %s\n", what.c_str());
    return kRefused;
}

const Command* FindCommand(const std::string& name) {
    for (const Command& command : kCommands)
        if (name == command.name)
            return &command;
    return nullptr;
}

}  // namespace qvjournal
