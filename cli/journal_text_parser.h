// The journal text's reader, shared by its two files: journal_text_read.cpp (the reader, the
// lines before the events: the header's, the windows', the pictures' and the sections') and
// journal_text_events.cpp (the event lines and their fields).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/journal_io.h"

namespace qvjournal {
namespace text {

// Numbers as the text writes them: decimal, or hex after 0x (ParseSigned: after a sign, if any);
// false beyond the limits. ParseHexBytes adds pairs of hex digits to `bytes`.
bool ParseUnsigned(const std::string& text, uint64_t largest, uint64_t* value);
bool ParseSigned(const std::string& text, int64_t smallest, int64_t largest, int64_t* value);
bool ParseHexBytes(const std::string& text, std::vector<uint8_t>* bytes);
// What went wrong is shown as it was written, shortened and without control characters.
std::string Shown(const std::string& token);

class Parser {
  public:
    Parser(JournalImage* into, std::string* message) : image(into), error(message) {}

    bool Parse(const char* text, size_t size);

  private:
    // ---- the lines before the events (journal_text_read.cpp) ------------------------------------
    // Within double quotes (a window's name) spaces and # are part of the token, and a
    // backslash keeps the byte after it there; the token keeps its quotes and backslashes.
    static std::vector<std::string> Split(const char* text, size_t length);
    bool Fail(const std::string& expected, const std::string& found);
    bool Say(const std::string& what);
    bool Line(const std::vector<std::string>& tokens);
    // picture N HEX: a press's picture as the file holds it, numbered in order.
    bool Picture(const std::vector<std::string>& tokens);
    // section TAG [HEX]: a section of a later version, after those this one knows.
    bool Section(const std::vector<std::string>& tokens);
    // win N program="..." class="..." title="..." rect=L,T,R,B dpi=D, numbered in order.
    bool Window(const std::vector<std::string>& tokens);
    // A quoted name: \", \\ and \xHH stand for their byte.
    static bool Unquote(const std::string& value, char* name);
    static bool Numbers(const std::string& value, size_t count, int64_t smallest, int64_t largest,
                        std::vector<int64_t>* numbers);
    bool Once(const std::string& word, unsigned* seen);
    bool Value(const std::vector<std::string>& tokens, uint64_t largest, const char* what,
               uint32_t* value);
    // The record size once the header lines are read: records with windows hold 24 bytes at
    // least.
    bool Layout();
    bool Finish();

    // ---- the event lines (journal_text_events.cpp) ----------------------------------------------
    bool Point(const std::vector<std::string>& tokens, size_t at, platform::EventRecord* e);
    // Index of `word` among `choices`, or -1.
    static int Choice(const std::string& word, const char* const* choices, int count);
    bool Event(const std::vector<std::string>& tokens);

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
    bool TakeExtras(const Extras& x, uint32_t in);
    bool Key(const std::string& name, platform::EventRecord* e);
    bool Fields(const std::vector<std::string>& tokens, size_t first, const std::string& allowed,
                platform::EventRecord* e, uint32_t* high, std::vector<uint8_t>* pad, uint32_t* in,
                Extras* extras);

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

}  // namespace text
}  // namespace qvjournal
