#include "cli/journal_tool.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "cli/journal_commands.h"
#include "cli/journal_edit.h"
#include "cli/journal_info.h"
#include "cli/journal_io.h"
#include "cli/journal_text.h"
#include "sound/sound_file_format.h"
#include "version.h"

namespace qvjournal {

namespace {

// Text files are written for the editors of the system they are made on; build reads both.
#ifdef _WIN32
const char kLineEnd[] = "\r\n";
#else
const char kLineEnd[] = "\n";
#endif

struct Option {
    std::string name;
    std::string value;
};

}  // namespace

class Tool {
  public:
    Tool(FILE* outFile, FILE* errFile) : out(outFile), err(errFile) {}

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
        command = FindCommand(name);
        if (command)
            return Parse(argc, argv) ? Dispatch() : kRefused;
        return Refuse("unknown command '" + name + "' (qvjournal --help lists the commands)");
    }

    // The commands' handlers (see kCommands).
    int InfoCommand() { return Info(out, err, positional[0]); }
    int DumpCommand() { return Dump(positional[0]); }
    int BuildCommand() { return Build(positional[0]); }
    int EditCommand() { return RunEdit(); }
    int PicturesCommand() { return Pictures(out, err, positional[0], output); }

  private:
    int Refuse(const std::string& what) { return qvjournal::Refuse(err, what); }

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
            return Complain(std::string(command->name) + " needs an output: -o " +
                            (strstr(command->usage, "FOLDER") ? "FOLDER" : "FILE") + usage);
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

    // A time on a journal's timeline. Past 2^32-1 ms the sound offsets computed from it would
    // overflow, and no gap between two events is that long anyway.
    bool Milliseconds(const char* option, uint64_t fallback, uint64_t* value) {
        *value = fallback;
        return !Has(option) || Number(Value(option), option, 0xFFFFFFFFu, value);
    }

    int Dispatch() {
        if (help) {
            fprintf(out, "usage: qvjournal %s\n\n%s", command->usage, command->help);
            return kDone;
        }
        output = Value("--output");
        return command->run(*this);
    }

    // ---- dump and build -----------------------------------------------------------------

    int Dump(const std::string& path) {
        if (!output.empty() && SameFile(output, path))
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
        if (SameFile(output, path))
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
        FindPlaces(input);
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
        if (name == "trim") {
            CommandChords chords = FindCommandChords(inputs[0].image.events);
            for (int end = 0; end < 2; end++) {
                const platform::HotkeyChord* chord = end ? chords.stop : chords.start;
                if (chord)
                    trimmed +=
                        std::string("removed ") + (end ? "" : "the releases of ") +
                        ChordName(*chord) + (end ? " at the end" : " at the start") + " (" +
                        std::to_string((end ? chords.stopEvents : chords.startEvents).size()) +
                        " events)\n";
            }
            return Trim(inputs[0], chords, edit, &why) || Complain(why);
        }
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
        Keep keep;
        keep.windows = !Has("--no-windows");
        keep.screens = !Has("--no-screens");
        keep.motion = !Has("--no-motion");
        if (!WriteEditJournal(output, edit, keep, &why))
            return Refuse(output + ": " + why);
        fputs(trimmed.c_str(), out);
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
            replaced = replaced || SameFile(input.path, output);
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
    std::string trimmed;            // what trim removed, told once the result is written
};

int RunInfo(Tool& tool) {
    return tool.InfoCommand();
}
int RunDump(Tool& tool) {
    return tool.DumpCommand();
}
int RunBuild(Tool& tool) {
    return tool.BuildCommand();
}
int RunEdit(Tool& tool) {
    return tool.EditCommand();
}
int RunPictures(Tool& tool) {
    return tool.PicturesCommand();
}

}  // namespace qvjournal

int RunJournalTool(int argc, char** argv, FILE* out, FILE* err) {
    try {
        return qvjournal::Tool(out, err).Run(argc, argv);
    } catch (const std::bad_alloc&) {
        fputs("qvjournal: out of memory\n", err);
        return qvjournal::kRefused;
    }
}
