#include "cli/journal_tool.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "cli/journal_edit.h"
#include "cli/journal_io.h"
#include "cli/journal_text.h"
#include "sound/sound_file_format.h"
#include "version.h"

namespace qvjournal {

namespace {

const int kDone = 0;
const int kRefused = 2;

// Text files are written for the editors of the system they are made on; build reads both.
#ifdef _WIN32
const char kLineEnd[] = "\r\n";
#else
const char kLineEnd[] = "\n";
#endif

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
    "\n"
    "Times are milliseconds from the first event. 'qvjournal COMMAND --help' tells more.\n"
    "Every output is written whole or not at all: a file it replaces stays as it was until\n"
    "the new one is complete. Exit code 0 when done, 2 when refused.\n";

struct Command {
    const char* name;
    const char* usage;
    const char* help;
    const char* options;   // accepted besides --help, with a value unless marked '!'
    const char* argument;  // the word before the inputs (N, FACTOR), or null
    int fewestInputs;
    int mostInputs;
    int output;  // 0 none, 1 optional, 2 required
};

const Command kCommands[] = {
    {"info", "info FILE",
     "Shows the header's fields, the events by kind, their first and last time and span,\n"
     "whether the program would load the file (and if not, why), and the sound track beside\n"
     "it. Exit code 2 when the program would not load the file.\n",
     "", nullptr, 1, 1, 0},
    {"dump", "dump FILE [-o TEXT]",
     "Writes the events as text, one a line: the gap in ms since the event before, then what\n"
     "happened (the key by name with its scan code, the button, the wheel's turn, the screen\n"
     "position). Edit it and make a journal of it again with build; without -o the text goes\n"
     "to the standard output.\n",
     "--output", nullptr, 1, 1, 1},
    {"build", "build TEXT -o FILE",
     "Makes a journal of a text as dump writes it. A dumped file builds to the very same\n"
     "bytes. A line that cannot be read is reported with its number, and nothing is written.\n"
     "FILE gets no sound track: one left beside it from before is removed.\n",
     "--output", nullptr, 1, 1, 2},
    {"repeat", "repeat N [--gap MS] FILE -o OUT",
     "Plays the recording N times in a row. Between the end of one time and the start of the\n"
     "next it waits MS, by default as long as between its last two events. The sound track\n"
     "is repeated with it, cut or filled with silence to each start.\n",
     "--output --gap", "N", 1, 1, 2},
    {"cat", "cat [--gap MS] FILE... -o OUT",
     "Joins recordings one after another. Between the end of one and the start of the next\n"
     "it waits MS, by default as long as between the last two events of the one before. Their\n"
     "sound tracks are joined the same way; one without a track is silent.\n",
     "--output --gap", nullptr, 1, 1000000, 2},
    {"cut", "cut [--from MS] [--to MS] FILE -o OUT",
     "Keeps the events from --from to --to ms after the first event, both ends included\n"
     "(default: from the start, to the end). Kept events keep their times; the sound track\n"
     "is cut to start at the first kept event and end at --to.\n",
     "--output --from --to", nullptr, 1, 1, 2},
    {"speed", "speed FACTOR [--from MS] [--to MS] FILE -o OUT",
     "Plays faster (FACTOR above 1: 2 halves every pause) or slower (below 1: 0.5 doubles\n"
     "them). With --from and --to only the pauses between events within that part change.\n"
     "The sound cannot follow: OUT gets no sound track, and one left from before is removed.\n",
     "--output --from --to", "FACTOR", 1, 1, 2},
    {"moves", "moves (--drop | --simplify MS) FILE -o OUT",
     "--drop leaves out every mouse move; --simplify MS merges each run of moves that follow\n"
     "one another by less than MS into its last move. Clicks, keys and the wheel stay where\n"
     "they were, and so does the sound track.\n",
     "--output --drop! --simplify", nullptr, 1, 1, 2},
};

struct Option {
    std::string name;
    std::string value;
};

class Tool {
  public:
    Tool(FILE* out, FILE* err) : out(out), err(err) {}

    int Run(int argc, char** argv) {
        if (argc < 2) {
            fputs(kOverview, err);
            return kRefused;
        }
        std::string name = argv[1];
        if (name == "--help" || name == "-h" || name == "help") {
            fputs(kOverview, out);
            return kDone;
        }
        if (name == "--version") {
            fprintf(out, "qvjournal %s\n", QV_VERSION);
            return kDone;
        }
        for (const Command& c : kCommands) {
            if (name == c.name) {
                command = &c;
                return Parse(argc, argv) ? Dispatch() : kRefused;
            }
        }
        return Refuse("unknown command '" + name + "' (qvjournal --help lists the commands)");
    }

  private:
    int Refuse(const std::string& what) {
        fprintf(err, "qvjournal: %s\n", what.c_str());
        return kRefused;
    }

    bool Complain(const std::string& what) {
        Refuse(what);
        return false;
    }

    bool Accepts(const std::string& option, bool* takesValue) const {
        std::string list = std::string(" ") + command->options + " ";
        if (list.find(" " + option + "! ") != std::string::npos) {
            *takesValue = false;
            return true;
        }
        *takesValue = true;
        return list.find(" " + option + " ") != std::string::npos;
    }

    bool Parse(int argc, char** argv) {
        bool optionsEnd = false;
        for (int i = 2; i < argc; i++) {
            std::string word = argv[i];
            // "-2" is a number (a factor refused later), not an option.
            bool option = !optionsEnd && word.size() > 1 && word[0] == '-' &&
                          !(word[1] >= '0' && word[1] <= '9') && word[1] != '.';
            if (!option) {
                positional.push_back(word);
                continue;
            }
            if (word == "--") {
                optionsEnd = true;
                continue;
            }
            if (word == "--help" || word == "-h") {
                help = true;
                continue;
            }
            size_t equals = word.find('=');
            std::string name = word.substr(0, equals);
            if (name == "-o")
                name = "--output";
            bool takesValue;
            if (!Accepts(name, &takesValue))
                return Complain("unknown option " + word.substr(0, equals) + " for " +
                                command->name + " (qvjournal " + command->name +
                                " --help tells its options)");
            Option given{name, ""};
            if (takesValue && equals != std::string::npos) {
                given.value = word.substr(equals + 1);
            } else if (takesValue) {
                if (i + 1 == argc)
                    return Complain(name + " needs a value");
                given.value = argv[++i];
            } else if (equals != std::string::npos) {
                return Complain(name + " takes no value");
            }
            if (name == "--output" && given.value.empty())
                return Complain("-o needs a file name");
            for (const Option& o : options)
                if (o.name == name)
                    return Complain(name + " is given twice");
            options.push_back(given);
        }
        if (help)
            return true;
        size_t words = command->argument ? 1 : 0;
        size_t inputs = positional.size() > words ? positional.size() - words : 0;
        std::string usage = std::string(" (usage: qvjournal ") + command->usage + ")";
        if (positional.size() < words + size_t(command->fewestInputs))
            return Complain(std::string(command->name) + " needs " +
                            (words ? std::string(command->argument) + " and " : "") +
                            (command->mostInputs > 1 ? "at least one input" : "an input") + usage);
        if (inputs > size_t(command->mostInputs))
            return Complain(std::string(command->name) + " takes one input, not " +
                            std::to_string(inputs) + ": '" + positional[words + 1] +
                            "' is one too many" + usage);
        if (command->output == 2 && !Has("--output"))
            return Complain(std::string(command->name) + " needs an output: -o FILE" + usage);
        return true;
    }

    bool Has(const char* name) const {
        for (const Option& o : options)
            if (o.name == name)
                return true;
        return false;
    }

    std::string Value(const char* name) const {
        for (const Option& o : options)
            if (o.name == name)
                return o.value;
        return "";
    }

    // A count of milliseconds (or of times) given as a whole decimal number.
    bool Number(const std::string& text, const char* what, uint64_t largest, uint64_t* value) {
        uint64_t n = 0;
        bool good = !text.empty() && text.size() <= 20;
        for (char c : text) {
            if (c < '0' || c > '9' || n > (largest - uint64_t(c - '0')) / 10) {
                good = false;
                break;
            }
            n = n * 10 + uint64_t(c - '0');
        }
        if (!good)
            return Complain(std::string(what) + " must be a whole number from 0 to " +
                            std::to_string(largest) + ", not '" + text + "'");
        *value = n;
        return true;
    }

    bool Milliseconds(const char* option, uint64_t fallback, uint64_t* value) {
        *value = fallback;
        return !Has(option) || Number(Value(option), option, ~uint64_t(0) / 2, value);
    }

    int Dispatch() {
        if (help) {
            fprintf(out, "usage: qvjournal %s\n\n%s", command->usage, command->help);
            return kDone;
        }
        output = Value("--output");
        std::string name = command->name;
        if (name == "info")
            return Info(positional[0]);
        if (name == "dump")
            return Dump(positional[0]);
        if (name == "build")
            return Build(positional[0]);
        return RunEdit();
    }

    // ---- info ---------------------------------------------------------------------------

    int Info(const std::string& path) {
        JournalImage image;
        journal::Refusal refusal;
        uint32_t size;
        std::string why;
        bool loads = ReadJournal(path, &image, &refusal, &size, &why);
        if (!loads && refusal == journal::Refusal::kNone)
            return Refuse(path + ": " + why);
        const JournalHeader& h = image.header;
        fprintf(out, "file:         %s, %u bytes\n", path.c_str(), size);
        fprintf(out, "loads:        %s\n",
                loads ? "yes" : ("no: " + DescribeRefusal(refusal, h, size)).c_str());
        if (refusal != journal::Refusal::kShort && refusal != journal::Refusal::kSignature) {
            fprintf(out, "header:       header size %u, record size %u, %u records\n", h.headerSize,
                    h.recordSize, h.count);
            fprintf(out, "header times: first %u, last %u, duration %u\n", h.firstTime, h.lastTime,
                    h.duration);
        }
        if (loads)
            Events(image.events);
        Sound(path, loads ? Span(image.events, 0, image.events.size()) : 0);
        if (!loads)
            return Refuse(path + " would not load: " + DescribeRefusal(refusal, h, size));
        return kDone;
    }

    void Events(const std::vector<platform::EventRecord>& events) {
        uint64_t keys = 0, buttons = 0, moves = 0, wheel = 0;
        for (const platform::EventRecord& e : events) {
            uint32_t kind = e.message & 0xFFFF;
            if (kind == 0x100 || kind == 0x101 || kind == 0x104 || kind == 0x105)
                keys++;
            else if (kind == 0x200)
                moves++;
            else if (kind == 0x20A || kind == 0x20E)
                wheel++;
            else if (kind >= 0x201 && kind <= 0x20D)
                buttons++;
        }
        uint64_t other = events.size() - keys - buttons - moves - wheel;
        fprintf(out,
                "events:       %zu (keys %llu, buttons %llu, moves %llu, wheel %llu, other "
                "%llu)\n",
                events.size(), (unsigned long long)keys, (unsigned long long)buttons,
                (unsigned long long)moves, (unsigned long long)wheel, (unsigned long long)other);
        if (events.empty())
            return;
        uint64_t span = Span(events, 0, events.size());
        fprintf(out, "first time:   %u ms\nlast time:    %u ms\n", events.front().time,
                events.back().time);
        fprintf(out, "duration:     %llu ms (%s)\n", (unsigned long long)span,
                Seconds(span).c_str());
    }

    static std::string Seconds(uint64_t ms) {
        char text[40];
        snprintf(text, sizeof text, "%llu.%03u s", (unsigned long long)(ms / 1000),
                 unsigned(ms % 1000));
        return text;
    }

    void Sound(const std::string& path, uint64_t span) {
        Companion kind;
        std::vector<uint8_t> track;
        std::string why, name = CompanionName(path);
        if (!ReadCompanion(path, &kind, &track, &why)) {
            fprintf(out, "sound:        %s\n", why.c_str());
            return;
        }
        if (kind == Companion::kNone) {
            fprintf(out, "sound:        none (no %s beside it)\n", name.c_str());
        } else if (kind == Companion::kForeign) {
            fprintf(out, "sound:        none (%s is not a sound file of this program)\n",
                    name.c_str());
        } else if (kind == Companion::kStale) {
            fprintf(out,
                    "sound:        none (%s was written before the journal, by an earlier "
                    "recording)\n",
                    name.c_str());
        } else {
            uint64_t ms = track.size() * 1000 / sound::kBytesPerSecond;
            fprintf(out, "sound:        %s, %s of sound (%zu bytes)%s\n", name.c_str(),
                    Seconds(ms).c_str(), track.size(),
                    span && ms + 1000 < span ? ", shorter than the events" : "");
        }
    }

    // ---- dump and build -----------------------------------------------------------------

    int Dump(const std::string& path) {
        if (!output.empty() && output == path)
            return Refuse("the text would replace the journal " + path + ": give -o another name");
        JournalImage image;
        journal::Refusal refusal;
        uint32_t size;
        std::string why;
        if (!ReadJournal(path, &image, &refusal, &size, &why))
            return Refuse(path + ": " + why);
        if (output.empty()) {
            std::string text = DumpJournalText(image, path, "\n");
            fwrite(text.data(), 1, text.size(), out);
            return kDone;
        }
        std::string text = DumpJournalText(image, path, kLineEnd);
        if (!WriteFileBytes(output, reinterpret_cast<const uint8_t*>(text.data()), text.size(),
                            &why))
            return Refuse(output + ": " + why);
        fprintf(out, "wrote %s: %zu events as text\n", output.c_str(), image.events.size());
        return kDone;
    }

    int Build(const std::string& path) {
        if (output == path)
            return Refuse("the journal would replace its text " + path + ": give -o another name");
        std::vector<uint8_t> text, bytes;
        JournalImage image;
        std::string why;
        if (!ReadFileBytes(path, &text, &why))
            return Refuse(path + ": " + why);
        if (!ParseJournalText(reinterpret_cast<const char*>(text.data()), text.size(), &image,
                              &why))
            return Refuse(path + ": " + why + "; nothing written");
        if (!ComposeJournal(image, &bytes, &why))
            return Refuse(path + " describes a journal the program would not load: " + why +
                          "; nothing written");
        if (!WriteFileBytes(output, bytes.data(), bytes.size(), &why))
            return Refuse(output + ": " + why);
        Wrote(image.events.size(), Span(image.events, 0, image.events.size()));
        return DropOldTrack() ? kDone : kRefused;
    }

    void Wrote(uint64_t events, uint64_t span) {
        fprintf(out, "wrote %s: %llu events over %s\n", output.c_str(), (unsigned long long)events,
                Seconds(span).c_str());
    }

    // A journal written without a track must not meet an older track beside it at Load.
    bool DropOldTrack() {
        bool removed;
        std::string why;
        if (!RemoveCompanion(output, &removed, &why))
            return Complain(why + " (the old sound track beside " + output +
                            ", which no longer matches it: remove it by hand)");
        if (removed)
            fprintf(err, "qvjournal: removed %s: the sound track beside %s no longer matched\n",
                    CompanionName(output).c_str(), output.c_str());
        return true;
    }

    // ---- the edits ----------------------------------------------------------------------

    bool ReadInput(const std::string& path, Input* input) {
        journal::Refusal refusal;
        uint32_t size;
        std::string why;
        input->path = path;
        if (!ReadJournal(path, &input->image, &refusal, &size, &why))
            return Complain(path + ": " + why);
        if (!ReadCompanion(path, &input->companion, &input->track, &why))
            return Complain(why);
        return true;
    }

    bool Times(uint64_t* from, uint64_t* to, bool* until) {
        *until = Has("--to");
        if (!Milliseconds("--from", 0, from) || !Milliseconds("--to", ~uint64_t(0), to))
            return false;
        if (*from > *to)
            return Complain("--from " + std::to_string(*from) + " is after --to " +
                            std::to_string(*to));
        return true;
    }

    bool Gap(uint32_t* gap, const uint32_t** given) {
        *given = nullptr;
        uint64_t value;
        if (!Has("--gap"))
            return true;
        if (!Number(Value("--gap"), "--gap", 0xFFFFFFFFu, &value))
            return false;
        *gap = uint32_t(value);
        *given = gap;
        return true;
    }

    // The edit's own arguments, checked before any file is read.
    bool EditArguments() {
        std::string name = command->name;
        if (name == "repeat") {
            if (!Number(positional[0], "N", ~uint64_t(0), &times))
                return false;
            if (times == 0)
                return Complain("N must be at least 1");
        }
        if (name == "speed") {
            char* end = nullptr;
            const std::string& text = positional[0];
            factor = strtod(text.c_str(), &end);
            if (text.empty() || *end || !std::isfinite(factor) || factor <= 0)
                return Complain("FACTOR must be a number above 0, such as 2 or 0.5, not '" + text +
                                "'");
        }
        if (name == "moves") {
            if (Has("--drop") == Has("--simplify"))
                return Complain("moves needs either --drop or --simplify MS");
            if (Has("--simplify") &&
                !Number(Value("--simplify"), "--simplify", 0xFFFFFFFFu, &closerThan))
                return false;
        }
        return Times() && Gap();
    }

    bool Times() {
        until = Has("--to");
        if (!Milliseconds("--from", 0, &from) || !Milliseconds("--to", ~uint64_t(0), &to))
            return false;
        if (from > to)
            return Complain("--from " + std::to_string(from) + " is after --to " +
                            std::to_string(to));
        return true;
    }

    bool Gap() {
        uint64_t value;
        if (!Has("--gap"))
            return true;
        if (!Number(Value("--gap"), "--gap", 0xFFFFFFFFu, &value))
            return false;
        gapValue = uint32_t(value);
        gap = &gapValue;
        return true;
    }

    bool MakeEdit(std::vector<Input>& inputs, Edit* edit) {
        std::string name = command->name, why;
        if (name == "repeat")
            return Repeat(inputs[0], times, gap, edit, &why) || Complain("cannot repeat: " + why);
        if (name == "cat")
            return Cat(inputs, gap, edit, &why) || Complain("cannot join: " + why);
        if (name == "cut")
            return Cut(inputs[0], from, to, until, edit, &why) || Complain(why);
        if (name == "speed")
            return Speed(inputs[0], factor, from, to, edit, &why) || Complain(why);
        if (Has("--drop"))
            return DropMoves(inputs[0], edit, &why) || Complain(why);
        return SimplifyMoves(inputs[0], closerThan, edit, &why) || Complain(why);
    }

    int RunEdit() {
        if (!EditArguments())
            return kRefused;
        size_t words = command->argument ? 1 : 0;
        std::vector<Input> inputs(positional.size() - words);
        for (size_t i = 0; i < inputs.size(); i++)
            if (!ReadInput(positional[words + i], &inputs[i]))
                return kRefused;
        Edit edit;
        if (!MakeEdit(inputs, &edit))
            return kRefused;
        uint64_t trackLength = edit.keepsTimeline ? TrackLength(edit) : 0;
        if (trackLength > LargestTrack())
            return Refuse("the result's sound track would be " + std::to_string(trackLength) +
                          " bytes, more than a sound file holds (2 GiB)");
        std::string why;
        if (!WriteEditJournal(output, edit, &why))
            return Refuse(output + ": " + why);
        const Part& last = edit.parts.back();
        Wrote(EventCount(edit),
              last.at + (last.times - 1) * last.period + Span(*last.events, last.begin, last.end));
        if (trackLength) {
            if (WriteEditTrack(output, edit, &why)) {
                fprintf(out, "wrote %s: %s of sound\n", CompanionName(output).c_str(),
                        Seconds(trackLength * 1000 / sound::kBytesPerSecond).c_str());
                return kDone;
            }
            Refuse("the sound track could not be written: " + why);
            return DropOldTrack(), kRefused;
        }
        bool hadTrack = false, replaced = false;
        for (const Input& input : inputs) {
            hadTrack = hadTrack || input.companion == Companion::kTrack;
            replaced = replaced || input.path == output;
        }
        if (hadTrack && !edit.keepsTimeline)
            fprintf(err, "qvjournal: %s changes the timeline, so %s gets no sound track%s\n",
                    command->name, output.c_str(),
                    replaced ? "" : " (the input's is left as it is)");
        else if (hadTrack)
            fprintf(err, "qvjournal: the sound track ends before %s starts: it gets none\n",
                    output.c_str());
        return DropOldTrack() ? kDone : kRefused;
    }

    FILE* out;
    FILE* err;
    const Command* command = nullptr;
    std::vector<std::string> positional;
    std::vector<Option> options;
    std::string output;
    bool help = false;
    // The edits' arguments.
    uint64_t times = 1;
    double factor = 1;
    uint64_t from = 0, to = 0, closerThan = 0;
    bool until = false;
    uint32_t gapValue = 0;
    const uint32_t* gap = nullptr;  // null: the default gap
};

}  // namespace

}  // namespace qvjournal

int RunJournalTool(int argc, char** argv, FILE* out, FILE* err) {
    try {
        return qvjournal::Tool(out, err).Run(argc, argv);
    } catch (const std::bad_alloc&) {
        fputs("qvjournal: out of memory\n", err);
        return qvjournal::kRefused;
    }
}
