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

#include <cstddef>
#include <cstdint>
#include <vector>

#include "journal/screen_picture.h"
#include "platform/window_lookup.h"

namespace journal {

const char kWindowsTag[4] = {'W', 'N', 'D', 'S'};
const char kPlacesTag[4] = {'W', 'M', 'O', 'V'};
const char kPicturesTag[4] = {'S', 'H', 'O', 'T'};
const char kMotionTag[4] = {'M', 'O', 'T', 'N'};
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

// What the screen showed around a press when it was recorded (the replay waits for it).
struct EventPicture {
    uint32_t event;
    ScreenPicture picture;
};

// A mouse move's relative counts, as raw input had them, and what the recording made of its
// moment: the cursor hidden or confined by the foreground program, and whether the move belongs
// to a stretch that a replay plays by motion (a game looking around) rather than by place.
const uint32_t kMotionHidden = 1;
const uint32_t kMotionConfined = 2;
const uint32_t kMotionPlayed = 4;
const uint32_t kMotionFlags = kMotionHidden | kMotionConfined | kMotionPlayed;
struct EventMotion {
    uint32_t event;
    int32_t dx;
    int32_t dy;
    uint32_t flags;
};

// A section this version does not know, kept as it was for a reader that writes files back.
struct OtherSection {
    char tag[4];
    std::vector<uint8_t> bytes;
};

struct HeaderSections {
    // The window table; records are 24 bytes and name an entry when it has any.
    std::vector<platform::WindowInfo> windows;
    std::vector<WindowPlace> places;  // each list in the order of its events
    std::vector<EventPicture> pictures;
    std::vector<EventMotion> motions;
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
// a name with a zero byte, a list that is empty, out of order or past the last event, a damaged
// picture, motion flags this version does not know), and the whole when a section runs past the
// end or a known one comes after another it should precede. What each list says of its events
// (a place of an event of a window, a picture of a press, motion of a move) is for the reader of
// the records to check, with SectionsFitEvent.
// Walks the lists along the records: call with each record in order, its index and its window
// (0 for none). False when a list says something of it that it cannot be.
struct SectionCursor {
    size_t place = 0;
    size_t picture = 0;
    size_t motion = 0;
};
bool SectionsFitEvent(const HeaderSections& sections, SectionCursor* cursor, uint32_t index,
                      uint32_t message, uint32_t window);
HeaderBytes DecodeHeaderBytes(const uint8_t* bytes, uint32_t size, uint32_t eventCount,
                              HeaderSections* sections);

// The bytes after the first 40 that hold `sections`, in the smallest layout that does (none for
// nothing, the table alone when it is all there is) unless they are `sectioned`.
std::vector<uint8_t> EncodeHeaderBytes(const HeaderSections& sections);

}  // namespace journal
