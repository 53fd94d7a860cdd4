// The journal file's bytes: the 40-byte header and the 20-byte records, their little-endian
// encoding, the tests a file must pass to be loaded, and the loops that read and write records
// through a FileBuffer. The recorder's Save and Load and the journal tool both go through here,
// so there is one reading of the format.
#pragma once

#include <cstdint>
#include <string>

#include "platform/input.h"
#include "platform/window_lookup.h"

class FileBuffer;

// The 40-byte head of a journal file, as the fields are held in memory.
struct JournalHeader {
    char signature[16];
    uint32_t headerSize;
    uint32_t recordSize;
    uint32_t count;
    uint32_t firstTime;
    uint32_t lastTime;
    uint32_t duration;
};

namespace journal {

const uint32_t kHeaderSize = 40;
const uint32_t kRecordSize = 20;
const uint32_t kSignatureSize = 16;
// Records are read at signed 32-bit offsets.
const uint64_t kLargestFile = 0x7FFFFFFF;
// The filter of the open and save dialogs; the literal adds the final NUL.
const char kFilter[] = "Journal File(*.Jnf)\0*.Jnf\0";

// The pause playback makes between events stamped `from` and `to`. Tick counts wrap, so the
// difference is taken modulo 2^32; one of half that or more is a step back in time (a
// hand-edited text, a clock set back) and is played as no pause rather than as weeks.
inline uint32_t PlayedGap(uint32_t from, uint32_t to) {
    uint32_t gap = to - from;
    return gap < 0x80000000u ? gap : 0;
}
inline bool StepsBack(uint32_t from, uint32_t to) {
    return to - from >= 0x80000000u;
}

void EncodeHeader(const JournalHeader& header, uint8_t* bytes);
void DecodeHeader(const uint8_t* bytes, JournalHeader* header);
void EncodeRecord(const platform::EventRecord& record, uint8_t* bytes);
platform::EventRecord DecodeRecord(const uint8_t* bytes);

// The header Save writes for `count` events from `firstTime` to `lastTime`, with `extraSize`
// bytes after the first 40 (0: the plain layout) and records of 24 bytes where `windows` (they
// name an entry of the window table), else 20.
void FillHeader(const char* signature, uint32_t count, uint32_t firstTime, uint32_t lastTime,
                uint32_t extraSize, bool windows, JournalHeader* header);

// Why a file would not be loaded, in the order the tests are made.
enum class Refusal {
    kNone,           // the file loads
    kShort,          // shorter than the header
    kSignature,      // the signature field is not the signature and a zero byte
    kBadRecordSize,  // records below 20 bytes or larger than the read window
    kTooLarge,       // the header's sizes add up to more than a file may hold
    kSizeMismatch,   // header size + count x record size is not the file's size
    kTimes,          // first time is not last time - duration
    kSections,       // a section of the header is damaged, or a record names a window it lacks
};

// The tests of Load on a header read from a file of `fileSize` bytes (zeros standing in for
// bytes past its end).
Refusal CheckHeader(const JournalHeader& header, uint32_t fileSize, const char* signature);

// Why Load refuses a file with that header, in words ("its record size 7 is not ...").
std::string DescribeRefusal(Refusal refusal, const JournalHeader& header, uint32_t fileSize,
                            const char* signature);
// The same as the reason a load failed: "not a journal the program loads: ...".
std::string WhyNotLoaded(Refusal refusal, const JournalHeader& header, uint32_t fileSize,
                         const char* signature);

// Hands each record of a file whose header passed CheckHeader to `take`, as the recordSize bytes
// the file holds for it; the event is in the first 20. True when every record was read and
// taken, false at the first failed read or refused record.
typedef bool (*TakeRecord)(void* context, const uint8_t* record);
bool ReadRecords(FileBuffer* file, const JournalHeader& header, TakeRecord take, void* context);

// Reads `length` bytes from `offset` on into `to`, a read window at a time. False when a read
// failed.
bool ReadSpan(FileBuffer* file, uint32_t offset, uint32_t length, uint8_t* to);

// Writes `header` (40 bytes at offset 0), the header's `extraSize` further bytes, and after
// them the records that `next` yields until it returns false: 20 bytes each, or 24 that name
// each event's window where the header says so. False when the file buffer refused a write; the
// caller's Close then abandons the save.
typedef bool (*NextRecord)(void* context, platform::EventRecord* record, uint32_t* window);
bool WriteJournal(FileBuffer* file, const JournalHeader& header, const uint8_t* extra,
                  uint32_t extraSize, NextRecord next, void* context);

}  // namespace journal
