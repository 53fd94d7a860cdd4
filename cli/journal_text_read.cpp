// Reading a journal's text: the lines that DumpJournalText writes, and the hand edits of them.
// Here the reader and the lines before the events; the event lines: journal_text_events.cpp.
#include <cstdint>
#include <cstring>

#include "cli/journal_text.h"
#include "cli/journal_text_names.h"
#include "cli/journal_text_parser.h"
#include "journal/picture_file.h"
#include "journal/window_table.h"

namespace qvjournal {
namespace text {

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

std::string Shown(const std::string& token) {
    std::string shown;
    for (char c : token.substr(0, 40))
        shown += (c >= 0x20 && c < 0x7F) ? c : '?';
    return token.size() > 40 ? shown + "..." : shown;
}

bool Parser::Parse(const char* text, size_t size) {
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

std::vector<std::string> Parser::Split(const char* text, size_t length) {
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

bool Parser::Fail(const std::string& expected, const std::string& found) {
    *error =
        "line " + std::to_string(line) + ": expected " + expected +
        (found.empty() ? std::string(" at the end of the line") : ", found '" + Shown(found) + "'");
    return false;
}

bool Parser::Say(const std::string& what) {
    *error = "line " + std::to_string(line) + ": " + what;
    return false;
}

bool Parser::Line(const std::vector<std::string>& tokens) {
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

bool Parser::Picture(const std::vector<std::string>& tokens) {
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

bool Parser::Section(const std::vector<std::string>& tokens) {
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
            return Say("a section " + std::string(known, 4) + " is one this version writes itself");
    if (tokens.size() > 3 || (tokens.size() == 3 && !ParseHexBytes(tokens[2], &section.bytes)))
        return Fail("the section's bytes in hex", tokens[tokens.size() == 3 ? 2 : 3]);
    image->others.push_back(std::move(section));
    return true;
}

bool Parser::Window(const std::vector<std::string>& tokens) {
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

bool Parser::Unquote(const std::string& value, char* name) {
    if (value.size() < 2 || value.front() != '"' || value.back() != '"')
        return false;
    std::string text;
    for (size_t i = 1; i + 1 < value.size(); i++) {
        char c = value[i];
        if (c == '\\' && i + 2 < value.size() && value[i + 1] == 'x') {
            uint64_t byte;
            if (i + 4 >= value.size() || !ParseUnsigned("0x" + value.substr(i + 2, 2), 0xFF, &byte))
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

bool Parser::Numbers(const std::string& value, size_t count, int64_t smallest, int64_t largest,
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

bool Parser::Once(const std::string& word, unsigned* seen) {
    if (*seen)
        return Say("a second '" + word + "' line (the first is line " + std::to_string(*seen) +
                   ")");
    *seen = line;
    return true;
}

bool Parser::Value(const std::vector<std::string>& tokens, uint64_t largest, const char* what,
                   uint32_t* value) {
    uint64_t number;
    if (tokens.size() < 2 || !ParseUnsigned(tokens[1], largest, &number))
        return Fail(what, tokens.size() > 1 ? tokens[1] : "");
    if (tokens.size() > 2)
        return Fail("nothing more after " + tokens[1], tokens[2]);
    *value = uint32_t(number);
    return true;
}

bool Parser::Layout() {
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

bool Parser::Finish() {
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
            return Say("the pictures, places, motion and sections take " + std::to_string(extra) +
                       " bytes, more than a journal's header holds");
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

}  // namespace text

bool ParseJournalText(const char* text, size_t size, JournalImage* image, std::string* error) {
    return text::Parser(image, error).Parse(text, size);
}

}  // namespace qvjournal
