// The journal tool's files: a journal held whole, with every byte its file had, so that it can
// be written back exactly; its companion sound track; and the writes, which all go through
// FileBuffer and so replace a file only once every byte of the new one was stored.
//
// Every function that can fail says why in `why`, as words that follow the file's name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "journal/journal_codec.h"
#include "journal/journal_sections.h"

namespace qvjournal {

// The signature of the tray program's files: its application name.
extern const char kSignature[];

// A press's picture as the file holds it: its bytes are kept, so that it is written back exactly
// (journal::DecodePicture reads them).
struct PictureBytes {
    uint32_t event;
    std::vector<uint8_t> bytes;
};

struct JournalImage {
    JournalHeader header;              // as read, or as the text gave it
    std::vector<uint8_t> headerBytes;  // between the 40-byte header and the first record
    std::vector<platform::EventRecord> events;
    // The bytes after each event, one record after another: after its first 20 bytes, or after
    // its window's number where the file has a window table.
    std::vector<uint8_t> padding;
    // The window table, in place of `headerBytes`, and each event's window (0 for none).
    std::vector<platform::WindowInfo> windows;
    std::vector<uint32_t> windowOf;
    // The header's other sections, with the window table in place of `headerBytes`, each list
    // in the order of its events.
    std::vector<journal::WindowPlace> places;
    std::vector<PictureBytes> pictures;
    std::vector<journal::EventMotion> motions;
    std::vector<journal::OtherSection> others;
    bool sectioned = false;
};

// Whether the image holds any section: a window table, places, pictures, motion or later ones.
bool HasSections(const JournalImage& image);

// Where a record's padding starts: 20, or 24 in a file with windows.
uint32_t RecordBase(const JournalImage& image);
// The header's bytes after the first 40: its sections when it has any, else `headerBytes`.
std::vector<uint8_t> HeaderExtra(const JournalImage& image);

// Reads a journal file as the tray program's Load would. A file that Load refuses gives false;
// `refusal` then tells which test failed (kNone when it could not even be read), and
// `image->header` and `fileSize` hold what was read of it.
bool ReadJournal(const std::string& path, JournalImage* image, journal::Refusal* refusal,
                 uint32_t* fileSize, std::string* why);

// Why Load refuses a file, in words.
std::string DescribeRefusal(journal::Refusal refusal, const JournalHeader& header,
                            uint32_t fileSize);

// The bytes of the file the image describes. False, with the reason, when Load would refuse
// them.
bool ComposeJournal(const JournalImage& image, std::vector<uint8_t>* bytes, std::string* why);

// Writes a whole file.
bool WriteFileBytes(const std::string& path, const uint8_t* data, size_t size, std::string* why);

// Writes a journal as Save writes it, of `count` events from `firstTime` to `lastTime`, taking
// them from `next` in order, with the header's sections of `sections` (its windows, places,
// pictures and motion); each event names its window where there is a table.
bool WriteCanonicalJournal(const std::string& path, uint32_t count, uint32_t firstTime,
                           uint32_t lastTime, const JournalImage& sections,
                           journal::NextRecord next, void* context, std::string* why);

// Why a file of `count` records would be too large, with `headerExtra` bytes after the first 40
// and records of 24 bytes where `windows` (else 20); empty when it is not.
std::string TooLarge(uint64_t count, uint64_t headerExtra, bool windows);

// True when the two paths name one file, or are the same text.
bool SameFile(const std::string& a, const std::string& b);

// Reads a whole file that is not a journal (the text of build).
bool ReadFileBytes(const std::string& path, std::vector<uint8_t>* bytes, std::string* why);

// The companion sound file beside a journal.
enum class Companion {
    kNone,     // no file of that name
    kTrack,    // one of ours; its track may be empty
    kForeign,  // a file of that name that is not ours: Load takes it for no sound
    kStale,    // one of ours written before the journal, by an earlier recording: no sound either
};

std::string CompanionName(const std::string& journalPath);

// Reads the track beside `journalPath` (only what kind of file is there when `track` is null);
// `track` is left empty unless it is one of ours.
bool ReadCompanion(const std::string& journalPath, Companion* kind, std::vector<uint8_t>* track,
                   std::string* why);

// A piece of a track to be written: `length` bytes of `source` from `from` on, with silence in
// place of bytes the source does not have (or for all of them when it is null).
struct TrackPiece {
    const std::vector<uint8_t>* source;
    uint64_t from;
    uint64_t length;
};

// The largest track a sound file can hold: the sound recorder reads at signed 32-bit offsets.
uint64_t LargestTrack();

// Writes the companion beside `journalPath` with the pieces `next` yields until it returns false.
typedef bool (*NextPiece)(void* context, TrackPiece* piece);
bool WriteCompanion(const std::string& journalPath, NextPiece next, void* context,
                    std::string* why);

// Removes the companion beside `journalPath` when it is one of ours. `removed` tells whether
// there was one.
bool RemoveCompanion(const std::string& journalPath, bool* removed, std::string* why);

}  // namespace qvjournal
