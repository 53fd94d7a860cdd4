// Reading a journal's text: the lines that DumpJournalText writes, and the hand edits of them.
#include <cstdint>
#include <cstring>

#include "cli/journal_text.h"
#include "cli/journal_text_names.h"
#include "journal/picture_file.h"
#include "journal/window_table.h"

namespace qvjournal {

using namespace text;

namespace {

bool ParseUnsigned(const std::string& text, uint64_t largest, uint64_t* value) {
    size_t i = 0;
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        i = 2;
    }
    if (i == text.size())
        return false;
    uint64_t result = 0;
    for (; i < text.size(); i++) {
        char c = text[i];
        int digit = c >= '0' && c <= '9'                 ? c - '0'
                    : base == 16 && c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : base == 16 && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                         : -1;
        if (digit < 0 || result > (largest - uint64_t(digit)) / uint64_t(base))
            return false;
        result = result * uint64_t(base) + uint64_t(digit);
    }
    *value = result;
    return true;
}

bool ParseSigned(const std::string& text, int64_t smallest, int64_t largest, int64_t* value) {
    bool negative = !text.empty() && text[0] == '-';
    uint64_t magnitude;
    std::string digits = negative || (!text.empty() && text[0] == '+') ? text.substr(1) : text;
    if (digits.empty() || digits[0] < '0' || digits[0] > '9' ||
        !ParseUnsigned(digits, uint64_t(largest) + 1, &magnitude))
        return false;
    int64_t result = negative ? -int64_t(magnitude) : int64_t(magnitude);
    if (result < smallest || result > largest)
        return false;
    *value = result;
    return true;
}

bool ParseHexBytes(const std::string& text, std::vector<uint8_t>* bytes) {
    if (text.empty() || text.size() % 2)
        return false;
    for (size_t i = 0; i < text.size(); i += 2) {
        uint64_t value;
        if (!ParseUnsigned("0x" + text.substr(i, 2), 0xFF, &value))
            return false;
        bytes->push_back(uint8_t(value));
    }
    return true;
}

// What went wrong is shown as it was written, shortened and without control characters.
std::string Shown(const std::string& token) {
    std::string shown;
    for (char c : token.substr(0, 40))
        shown += (c >= 0x20 && c < 0x7F) ? c : '?';
    return token.size() > 40 ? shown + "..." : shown;
}

class Parser {
  public:
    Parser(JournalImage* into, std::string* message) : image(into), error(message) {}

    bool Parse(const char* text, size_t size) {
        image->events.clear();
        image->padding.clear();
        image->headerBytes.clear();
        JournalHeader header = image->header;
        *image = JournalImage();
        image->header = header;
        size_t at = 0;
        if (size >= 3 && memcmp(text, "\xEF\xBB\xBF", 3) == 0)
            at = 3;  // the mark some editors put before UTF-8 text
        while (at < size) {
            const char* end = static_cast<const char*>(memchr(text + at, '\n', size - at));
            size_t length = end ? size_t(end - (text + at)) : size - at;
            line++;
            if (!Line(Split(text + at, length)))
                return false;
            at += length + 1;
        }
        return Finish();
    }

  private:
    // Within double quotes (a window's name) spaces and # are part of the token, and a
    // backslash keeps the byte after it there; the token keeps its quotes and backslashes.
    static std::vector<std::string> Split(const char* text, size_t length) {
        std::vector<std::string> tokens;
        std::string token;
        bool quoted = false;
        for (size_t i = 0; i <= length; i++) {
            char c = i < length ? text[i] : ' ';
            if (quoted && i < length) {
                token += c;
                if (c == '\\' && i + 1 < length)
                    token += text[++i];
                quoted = c != '"';
                continue;
            }
            quoted = c == '"';
            if (c == '#')
                c = ' ', length = i;
            if (c == ' ' || c == '\t' || c == '\r') {
                if (!token.empty())
                    tokens.push_back(token);
                token.clear();
            } else {
                token += c;
            }
        }
        return tokens;
    }

    bool Fail(const std::string& expected, const std::string& found) {
        *error = "line " + std::to_string(line) + ": expected " + expected +
                 (found.empty() ? std::string(" at the end of the line")
                                : ", found '" + Shown(found) + "'");
        return false;
    }

    bool Say(const std::string& what) {
        *error = "line " + std::to_string(line) + ": " + what;
        return false;
    }

    bool Line(const std::vector<std::string>& tokens) {
        if (tokens.empty())
            return true;
        const std::string& word = tokens[0];
        if (word[0] == '+')
            return Event(tokens);
        if (word == "window")
            return Value(tokens, 0xFFFFFFFFu, "a window handle such as 0x1A2B", &window);
        if (!image->events.empty()) {
            static const char* const kHeaderWords[] = {"start",       "header-size", "header-bytes",
                                                       "record-size", "first-time",  "last-time",
                                                       "win",         "section",     "sectioned"};
            for (const char* header : kHeaderWords)
                if (word == header)
                    return Say("'" + word + "' must come before the first event");
        }
        if (word == "start")
            return Once(word, &startLine) &&
                   Value(tokens, 0xFFFFFFFFu, "the first event's time in ms", &time);
        if (word == "first-time")
            return Once(word, &firstLine) &&
                   Value(tokens, 0xFFFFFFFFu, "the header's first time in ms", &firstTime);
        if (word == "last-time")
            return Once(word, &lastLine) &&
                   Value(tokens, 0xFFFFFFFFu, "the header's last time in ms", &lastTime);
        if (word == "win")
            return Window(tokens);
        if (word == "picture")
            return Picture(tokens);
        if (word == "section")
            return Section(tokens);
        if (word == "sectioned") {
            image->sectioned = true;
            return tokens.size() == 1 || Fail("nothing more after sectioned", tokens[1]);
        }
        if ((word == "header-size" || word == "header-bytes") && !image->windows.empty())
            return Say("'" + word + "' cannot go with window lines: the table sets the header");
        if (word == "header-size")
            return Once(word, &headerSizeLine) &&
                   Value(tokens, 0xFFFFFFFFu, "the header size in bytes", &headerSize);
        if (word == "record-size") {
            if (!Once(word, &recordSizeLine) ||
                !Value(tokens, 0xFFFFFFFFu, "the record size in bytes", &recordSize))
                return false;
            if (recordSize < journal::kRecordSize || recordSize > 1048576)
                return Fail("a record size from 20 to 1048576", tokens[1]);
            return true;
        }
        if (word == "header-bytes") {
            headerBytesLine = headerBytesLine ? headerBytesLine : line;
            if (tokens.size() != 2 || !ParseHexBytes(tokens[1], &image->headerBytes))
                return Fail("the header's further bytes as pairs of hex digits",
                            tokens.size() > 1 ? tokens[1] : "");
            if (image->headerBytes.size() + journal::kHeaderSize > uint64_t(headerSize))
                return Say("more header bytes than header-size leaves after the 40-byte header");
            return true;
        }
        return Fail(
            "an event (+GAP then what happened) or one of start, window, win, picture, "
            "header-size, "
            "header-bytes, record-size, first-time, last-time, section, sectioned",
            word);
    }

    // picture N HEX: a press's picture as the file holds it, numbered in order.
    bool Picture(const std::vector<std::string>& tokens) {
        uint64_t number;
        if (tokens.size() < 2 || !ParseUnsigned(tokens[1], 0xFFFFFFFFu, &number) ||
            number != pictures.size() + 1)
            return Fail("the picture's number, " + std::to_string(pictures.size() + 1),
                        tokens.size() > 1 ? tokens[1] : "");
        std::vector<uint8_t> bytes;
        journal::ScreenPicture picture;
        if (tokens.size() != 3 || !ParseHexBytes(tokens[2], &bytes) ||
            journal::DecodePicture(bytes.data(), uint32_t(bytes.size()), &picture) != bytes.size())
            return Fail("the picture's bytes in hex, as dump writes them",
                        tokens.size() > 2 ? tokens[2] : "");
        pictures.push_back(std::move(bytes));
        return true;
    }

    // section TAG [HEX]: a section of a later version, after those this one knows.
    bool Section(const std::vector<std::string>& tokens) {
        journal::OtherSection section = {};
        std::vector<uint8_t> tag;
        const std::string word = tokens.size() > 1 ? tokens[1] : "";
        if (word.size() == 4)
            memcpy(section.tag, word.data(), 4);
        else if (word.size() == 10 && word.compare(0, 2, "0x") == 0 &&
                 ParseHexBytes(word.substr(2), &tag))
            memcpy(section.tag, tag.data(), 4);
        else
            return Fail("the section's tag: four characters, or 0x and eight hex digits", word);
        for (const char* known : {journal::kWindowsTag, journal::kPlacesTag, journal::kPicturesTag,
                                  journal::kMotionTag, "WTBL"})
            if (memcmp(section.tag, known, 4) == 0)
                return Say("a section " + std::string(known, 4) +
                           " is one this version writes itself");
        if (tokens.size() > 3 || (tokens.size() == 3 && !ParseHexBytes(tokens[2], &section.bytes)))
            return Fail("the section's bytes in hex", tokens[tokens.size() == 3 ? 2 : 3]);
        image->others.push_back(std::move(section));
        return true;
    }

    // win N program="..." class="..." title="..." rect=L,T,R,B dpi=D, numbered in order.
    bool Window(const std::vector<std::string>& tokens) {
        if (headerBytesLine || headerSizeLine)
            return Say("window lines cannot go with header-size or header-bytes");
        uint64_t number;
        if (tokens.size() < 2 || !ParseUnsigned(tokens[1], 0xFFFFFFFFu, &number) ||
            number != image->windows.size() + 1)
            return Fail("the window's number, " + std::to_string(image->windows.size() + 1),
                        tokens.size() > 1 ? tokens[1] : "");
        if (number > journal::kMostWindows)
            return Say("more than " + std::to_string(journal::kMostWindows) + " windows");
        platform::WindowInfo w = {};
        for (size_t i = 2; i < tokens.size(); i++) {
            const std::string& token = tokens[i];
            size_t equals = token.find('=');
            std::string name = token.substr(0, equals);
            std::string value = equals == std::string::npos ? "" : token.substr(equals + 1);
            char* text = name == "program" ? w.program
                         : name == "class" ? w.windowClass
                         : name == "title" ? w.title
                                           : nullptr;
            std::vector<int64_t> numbers;
            if (text             ? !Unquote(value, text)
                : name == "rect" ? !Numbers(value, 4, INT32_MIN, INT32_MAX, &numbers)
                : name == "dpi"  ? !Numbers(value, 1, 0, UINT32_MAX, &numbers)
                                 : true)
                return Fail(
                    "program=\"NAME\", class=\"NAME\", title=\"NAME\" (at most 255 bytes each), "
                    "rect=LEFT,TOP,RIGHT,BOTTOM or dpi=N",
                    token);
            if (name == "rect")
                w.rect = {int32_t(numbers[0]), int32_t(numbers[1]), int32_t(numbers[2]),
                          int32_t(numbers[3])};
            if (name == "dpi")
                w.dpi = uint32_t(numbers[0]);
        }
        image->windows.push_back(w);
        return true;
    }

    // A quoted name: \", \\ and \xHH stand for their byte.
    static bool Unquote(const std::string& value, char* name) {
        if (value.size() < 2 || value.front() != '"' || value.back() != '"')
            return false;
        std::string text;
        for (size_t i = 1; i + 1 < value.size(); i++) {
            char c = value[i];
            if (c == '\\' && i + 2 < value.size() && value[i + 1] == 'x') {
                uint64_t byte;
                if (i + 4 >= value.size() ||
                    !ParseUnsigned("0x" + value.substr(i + 2, 2), 0xFF, &byte))
                    return false;
                c = char(byte);
                i += 3;
            } else if (c == '\\' && i + 2 < value.size()) {
                c = value[++i];
            } else if (c == '\\' || c == '"') {
                return false;
            }
            if (c == '\0')
                return false;
            text += c;
        }
        if (text.size() > journal::kLongestWindowName)
            return false;
        memcpy(name, text.c_str(), text.size() + 1);
        return true;
    }

    static bool Numbers(const std::string& value, size_t count, int64_t smallest, int64_t largest,
                        std::vector<int64_t>* numbers) {
        size_t at = 0;
        for (size_t k = 0; k < count; k++) {
            size_t comma = k + 1 < count ? value.find(',', at) : value.size();
            int64_t number;
            if (comma == std::string::npos ||
                !ParseSigned(value.substr(at, comma - at), smallest, largest, &number))
                return false;
            numbers->push_back(number);
            at = comma + 1;
        }
        return true;
    }

    bool Once(const std::string& word, unsigned* seen) {
        if (*seen)
            return Say("a second '" + word + "' line (the first is line " + std::to_string(*seen) +
                       ")");
        *seen = line;
        return true;
    }

    bool Value(const std::vector<std::string>& tokens, uint64_t largest, const char* what,
               uint32_t* value) {
        uint64_t number;
        if (tokens.size() < 2 || !ParseUnsigned(tokens[1], largest, &number))
            return Fail(what, tokens.size() > 1 ? tokens[1] : "");
        if (tokens.size() > 2)
            return Fail("nothing more after " + tokens[1], tokens[2]);
        *value = uint32_t(number);
        return true;
    }

    bool Point(const std::vector<std::string>& tokens, size_t at, platform::EventRecord* e) {
        const std::string token = at < tokens.size() ? tokens[at] : "";
        size_t comma = token.find(',');
        int64_t x, y;
        if (comma == std::string::npos ||
            !ParseSigned(token.substr(0, comma), INT32_MIN, INT32_MAX, &x) ||
            !ParseSigned(token.substr(comma + 1), INT32_MIN, INT32_MAX, &y))
            return Fail("the screen position as X,Y", token);
        e->paramL = uint32_t(int32_t(x));
        e->paramH = uint32_t(int32_t(y));
        return true;
    }

    // Index of `word` among `choices`, or -1.
    static int Choice(const std::string& word, const char* const* choices, int count) {
        for (int i = 0; i < count; i++)
            if (word == choices[i])
                return i;
        return -1;
    }

    bool Event(const std::vector<std::string>& tokens) {
        uint64_t gap;
        if (!ParseUnsigned(tokens[0].substr(1), 0xFFFFFFFFu, &gap))
            return Fail("the gap since the event before in ms, such as +35", tokens[0]);
        platform::EventRecord e = {0, 0, 0, uint32_t(time + gap), window};
        std::string kind = tokens.size() > 1 ? tokens[1] : "";
        size_t fields = 0;
        // Fields each kind accepts after its fixed words.
        const char* allowed = "";
        uint32_t high = 0;
        if (kind == "key" || kind == "syskey") {
            static const char* const kUpDown[] = {"down", "up"};
            int action = Choice(tokens.size() > 2 ? tokens[2] : "", kUpDown, 2);
            if (action < 0)
                return Fail("down or up", tokens.size() > 2 ? tokens[2] : "");
            e.message = (kind == "key" ? 0x100 : 0x104) + uint32_t(action);
            if (!Key(tokens.size() > 3 ? tokens[3] : "", &e))
                return false;
            fields = 4;
            allowed = "scan ext repeat l-hi h-hi msg-hi";
        } else if (kind == "move") {
            e.message = kMouseMove;
            if (!Point(tokens, 2, &e))
                return false;
            fields = 3;
            allowed = "msg-hi rel hidden confined played";
        } else if (kind == "wheel" || kind == "hwheel") {
            int64_t delta;
            if (tokens.size() < 3 || !ParseSigned(tokens[2], INT16_MIN, INT16_MAX, &delta))
                return Fail("the wheel's turn, such as 120 or -120",
                            tokens.size() > 2 ? tokens[2] : "");
            high = uint16_t(int16_t(delta));
            e.message = kind == "wheel" ? kWheel : kHorizontalWheel;
            if (!Point(tokens, 3, &e))
                return false;
            fields = 4;
        } else if (kind == "other") {
            uint64_t raw[3];
            for (int i = 0; i < 3; i++)
                if (tokens.size() < size_t(3 + i) ||
                    !ParseUnsigned(tokens[size_t(2 + i)], 0xFFFFFFFFu, &raw[i]))
                    return Fail("the record's message, paramL and paramH, such as 0x0300 0 0",
                                tokens.size() > size_t(2 + i) ? tokens[size_t(2 + i)] : "");
            e.message = uint32_t(raw[0]);
            e.paramL = uint32_t(raw[1]);
            e.paramH = uint32_t(raw[2]);
            fields = 5;
        } else {
            int button = Choice(kind, kButtons, 3);
            uint64_t number = 0;
            bool xButton = kind.size() > 1 && kind[0] == 'x' &&
                           ParseUnsigned(kind.substr(1), 0xFFFF, &number) && kind[1] != '+';
            if (button < 0 && !xButton)
                return Fail(
                    "key, syskey, move, left, right, middle, x1, x2, wheel, hwheel or other", kind);
            int action = Choice(tokens.size() > 2 ? tokens[2] : "", kActions, 3);
            if (action < 0)
                return Fail("down, up or double", tokens.size() > 2 ? tokens[2] : "");
            if (xButton) {
                e.message = kXButtonDown + uint32_t(action);
                high = uint32_t(number);
                allowed = action == 0 ? "picture" : "";
            } else {
                e.message = 0x201 + uint32_t(button) * 3 + uint32_t(action);
                allowed = action == 0 ? "msg-hi picture" : "msg-hi";
            }
            if (!Point(tokens, 3, &e))
                return false;
            fields = 4;
        }
        if (image->events.empty() && !Layout())
            return false;
        std::vector<uint8_t> pad;
        uint32_t in = 0;
        Extras extras;
        if (!Fields(tokens, fields, allowed, &e, &high, &pad, &in, &extras) ||
            !TakeExtras(extras, in))
            return false;
        e.message |= high << 16;
        time = e.time;
        image->events.push_back(e);
        if (!image->windows.empty())
            image->windowOf.push_back(in);
        pad.resize(recordSize - RecordBase(*image), 0);
        image->padding.insert(image->padding.end(), pad.begin(), pad.end());
        return true;
    }

    // What an event's fields say for the header's sections.
    struct Extras {
        bool placed = false;
        bool dpiGiven = false;
        platform::WindowRect rect = {};
        uint32_t dpi = 0;
        uint32_t picture = 0;
        bool moved = false;
        bool flagged = false;
        int32_t dx = 0, dy = 0;
        uint32_t flags = 0;
    };

    // The event about to be added is the image's next one.
    bool TakeExtras(const Extras& x, uint32_t in) {
        uint32_t index = uint32_t(image->events.size());
        if ((x.placed || x.dpiGiven) && !in)
            return Say("at= and dpi= tell where the event's window stood: they need in=N");
        if (x.dpiGiven && !x.placed)
            return Say("dpi= goes with at=");
        if (x.flagged && !x.moved)
            return Say("hidden, confined and played go with rel=");
        if (x.placed) {
            // Without dpi=, the window's dpi stays what it was.
            dpiOf.resize(image->windows.size() + 1, ~0u);
            uint32_t& dpi = dpiOf[in];
            if (dpi == ~0u)
                dpi = image->windows[in - 1].dpi;
            if (x.dpiGiven)
                dpi = x.dpi;
            image->places.push_back({index, x.rect, dpi});
        }
        if (x.picture)
            image->pictures.push_back({index, pictures[x.picture - 1]});
        if (x.moved)
            image->motions.push_back({index, x.dx, x.dy, x.flags});
        return true;
    }

    bool Key(const std::string& name, platform::EventRecord* e) {
        uint64_t vk = 0;
        uint8_t scan = 0;
        bool known = false;
        if (name.size() == 1) {
            char c = name[0] >= 'a' && name[0] <= 'z' ? char(name[0] - 'a' + 'A') : name[0];
            if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z')) {
                vk = uint8_t(c);
                scan = RowScan(c);
                known = true;
            }
        }
        for (size_t k = 0; k < kKeyCount; k++) {
            const KeyName& key = kKeys[k];
            if (!known && SameLetters(name, key.name)) {
                vk = key.vk;
                scan = key.scan;
                known = true;
            }
        }
        if (!known && !(name.size() > 2 && name[0] == '0' && ParseUnsigned(name, 0xFF, &vk)))
            return Fail("a key such as A, Enter or Shift, or its virtual key such as 0x41", name);
        e->paramL = uint32_t(vk) | uint32_t(scan) << 8;
        e->paramH = 1;
        return true;
    }

    // The record size once the header lines are read: records with windows hold 24 bytes at
    // least.
    bool Layout() {
        if (image->windows.empty())
            return true;
        if (!recordSizeLine)
            recordSize = journal::kWindowRecordSize;
        if (recordSize >= journal::kWindowRecordSize)
            return true;
        *error = "line " + std::to_string(recordSizeLine) +
                 ": a record size of at least 24 with window lines";
        return false;
    }

    bool Fields(const std::vector<std::string>& tokens, size_t first, const std::string& allowed,
                platform::EventRecord* e, uint32_t* high, std::vector<uint8_t>* pad, uint32_t* in,
                Extras* extras) {
        static const char* const kWords[] = {"ext", "hidden", "confined", "played"};
        std::vector<std::string> seen;
        for (size_t i = first; i < tokens.size(); i++) {
            const std::string& token = tokens[i];
            size_t equals = token.find('=');
            std::string name = token.substr(0, equals);
            std::string value = equals == std::string::npos ? "" : token.substr(equals + 1);
            bool known = name == "pad" || name == "in" || name == "at" || name == "dpi" ||
                         (" " + allowed + " ").find(" " + name + " ") != std::string::npos;
            bool word = Choice(name, kWords, 4) >= 0;
            if (!known || word != (equals == std::string::npos))
                return Fail(allowed[0] ? "one of the fields " + allowed +
                                             ", in=N, at=L,T,R,B, dpi=D or pad=HEX"
                                       : std::string("nothing but in=N, at=L,T,R,B, dpi=D or "
                                                     "pad=HEX"),
                            token);
            for (const std::string& before : seen)
                if (before == name)
                    return Say("the field '" + name + "' is given twice");
            seen.push_back(name);
            uint64_t number = 0;
            if (name == "ext") {
                e->paramH |= kExtendedKey;
                continue;
            }
            if (word) {
                extras->flagged = true;
                for (size_t k = 0; k < kMotionWordCount; k++)
                    if (name == kMotionWords[k].word)
                        extras->flags |= kMotionWords[k].flag;
                continue;
            }
            if (name == "pad") {
                if (!ParseHexBytes(value, pad))
                    return Fail("pad= followed by pairs of hex digits", token);
                if (pad->size() > recordSize - RecordBase(*image))
                    return Say("pad= holds more bytes than record-size leaves after " +
                               std::to_string(RecordBase(*image)));
                continue;
            }
            if (name == "in") {
                if (!ParseUnsigned(value, 0xFFFFFFFFu, &number) || !number ||
                    number > image->windows.size())
                    return Fail("in= followed by the number of a win line, 1 to " +
                                    std::to_string(image->windows.size()),
                                token);
                *in = uint32_t(number);
                continue;
            }
            std::vector<int64_t> numbers;
            if (name == "at" || name == "rel") {
                if (!Numbers(value, name == "at" ? 4 : 2, INT32_MIN, INT32_MAX, &numbers))
                    return Fail(name == "at" ? std::string("at=LEFT,TOP,RIGHT,BOTTOM")
                                             : std::string("rel=DX,DY"),
                                token);
                if (name == "at") {
                    extras->placed = true;
                    extras->rect = {int32_t(numbers[0]), int32_t(numbers[1]), int32_t(numbers[2]),
                                    int32_t(numbers[3])};
                } else {
                    extras->moved = true;
                    extras->dx = int32_t(numbers[0]);
                    extras->dy = int32_t(numbers[1]);
                }
                continue;
            }
            if (name == "dpi" || name == "picture") {
                uint64_t largest = name == "dpi" ? 0xFFFFFFFFu : pictures.size();
                if (!ParseUnsigned(value, largest, &number) || (name == "picture" && !number))
                    return Fail(name == "dpi" ? std::string("dpi= followed by a number")
                                              : "picture= followed by the number of a picture "
                                                "line before it, 1 to " +
                                                    std::to_string(pictures.size()),
                                token);
                if (name == "dpi") {
                    extras->dpiGiven = true;
                    extras->dpi = uint32_t(number);
                } else {
                    extras->picture = uint32_t(number);
                }
                continue;
            }
            uint64_t largest = name == "scan" ? 0xFF : name == "repeat" ? 0x7FFF : 0xFFFF;
            if (!ParseUnsigned(value, largest, &number))
                return Fail(name + "= followed by a number up to " + std::to_string(largest),
                            token);
            if (name == "scan")
                e->paramL = (e->paramL & ~0xFF00u) | uint32_t(number) << 8;
            else if (name == "repeat")
                e->paramH = (e->paramH & ~0x7FFFu) | uint32_t(number);
            else if (name == "l-hi")
                e->paramL = (e->paramL & 0xFFFF) | uint32_t(number) << 16;
            else if (name == "h-hi")
                e->paramH = (e->paramH & 0xFFFF) | uint32_t(number) << 16;
            else
                *high = uint32_t(number);
        }
        return true;
    }

    bool Finish() {
        if (image->events.empty() && !Layout())
            return false;
        if (HasSections(*image)) {
            unsigned set = headerSizeLine ? headerSizeLine : headerBytesLine;
            if (set) {
                line = set;
                return Say(
                    "header-size and header-bytes cannot go with pictures, places, motion "
                    "or sections: they set the header");
            }
            size_t extra = HeaderExtra(*image).size();
            if (extra > journal::kLargestHeaderBytes)
                return Say("the pictures, places, motion and sections take " +
                           std::to_string(extra) + " bytes, more than a journal's header holds");
            headerSize = journal::kHeaderSize + uint32_t(extra);
        }
        JournalHeader& header = image->header;
        memset(header.signature, 0, sizeof header.signature);
        memcpy(header.signature, kSignature, strlen(kSignature));
        header.headerSize = headerSize;
        header.recordSize = recordSize;
        header.count = uint32_t(image->events.size());
        uint32_t first = image->events.empty() ? 0 : image->events.front().time;
        uint32_t last = image->events.empty() ? 0 : image->events.back().time;
        header.firstTime = firstLine ? firstTime : first;
        header.lastTime = lastLine ? lastTime : last;
        header.duration = header.lastTime - header.firstTime;
        return true;
    }

    JournalImage* image;
    std::string* error;
    unsigned line = 0;
    uint32_t time = 0;
    uint32_t window = 0;
    uint32_t headerSize = journal::kHeaderSize;
    uint32_t recordSize = journal::kRecordSize;
    uint32_t firstTime = 0;
    uint32_t lastTime = 0;
    unsigned startLine = 0, firstLine = 0, lastLine = 0, headerSizeLine = 0, recordSizeLine = 0;
    unsigned headerBytesLine = 0;
    std::vector<std::vector<uint8_t>> pictures;  // of the picture lines, by number
    std::vector<uint32_t> dpiOf;                 // by window: its dpi now (~0: its entry's)
};

}  // namespace

bool ParseJournalText(const char* text, size_t size, JournalImage* image, std::string* error) {
    return Parser(image, error).Parse(text, size);
}

}  // namespace qvjournal
