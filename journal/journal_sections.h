// What a journal file holds beside its events, in the header's bytes after the first 40, where a
// reader that knows nothing of it skips it: the windows the events belong to, where those windows
// stood at each event, and later kinds. docs/journal-format.md describes the bytes.
//
// Two layouts. A file whose only addition is its window table holds the table alone, tagged
// "WTBL", as files have since windows were first recorded. Any other holds a sequence of sections,
// each a 4-byte tag, its length and its bytes, which fill the header exactly: those this version
// knows first, in their order and once each, then any it does not know, which are skipped (a
// later version's). Bytes that begin with neither are a reader's own business and are skipped as
// a whole.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/window_lookup.h"

namespace journal {

const char kWindowsTag[4] = {'W', 'N', 'D', 'S'};
const char kPlacesTag[4] = {'W', 'M', 'O', 'V'};
// Tag and length before each section's bytes.
const uint32_t kSectionHead = 8;
// What a header may take in all: far more than any recording needs, and a bound on what a
// damaged or hostile file can make a reader allocate.
const uint32_t kLargestHeaderBytes = 64u << 20;

// An event whose window stood elsewhere than the event before it of the same window (at first:
// than its entry in the table says): a window moved, resized, or on another monitor.
struct WindowPlace {
    uint32_t event;  // its index among the records
    platform::WindowRect rect;
    uint32_t dpi;
};

// A section this version does not know, kept as it was for a reader that writes files back.
struct OtherSection {
    char tag[4];
    std::vector<uint8_t> bytes;
};

struct HeaderSections {
    // The window table; records are 24 bytes and name an entry when it has any.
    std::vector<platform::WindowInfo> windows;
    std::vector<WindowPlace> places;  // in the order of their events
    std::vector<OtherSection> others;
    // Held as sections even where the table alone would do (as a file read may have it).
    bool sectioned = false;
};

// How the header's bytes after the first 40 read.
enum class HeaderBytes {
    kSections,  // a table alone, or sections: decoded
    kOpaque,    // neither: the file's own, skipped
    kDamaged,   // a table or sections that do not read whole
};

// Decodes the `size` bytes after the first 40 of a file of `eventCount` records. A known section
// is damaged when its bytes do not read exactly (a table with no entry or more than kMostWindows,
// a name with a zero byte, places out of order or past the last event), and the whole when a
// section runs past the end or a known one comes after another it should precede.
HeaderBytes DecodeHeaderBytes(const uint8_t* bytes, uint32_t size, uint32_t eventCount,
                              HeaderSections* sections);

// The bytes after the first 40 that hold `sections`, in the smallest layout that does (none for
// nothing, the table alone when it is all there is) unless they are `sectioned`.
std::vector<uint8_t> EncodeHeaderBytes(const HeaderSections& sections);

}  // namespace journal
