// The window table of a journal file: which top-level windows its events belong to. It lives
// in the header's bytes after the first 40 and each record names its window in bytes 20-23,
// so a reader that knows nothing of it still finds the header and the events where it always
// did. docs/journal-format.md describes the bytes.
#pragma once

#include <cstdint>

#include "platform/window_lookup.h"

namespace journal {

// Records of a file with a window table: the 20-byte event, then the window's number (1 for
// the table's first entry, 0 for none).
const uint32_t kWindowRecordSize = 24;
const uint32_t kMostWindows = 1024;
const char kWindowTableTag[4] = {'W', 'T', 'B', 'L'};
// The tag and the number of entries; each entry's fixed part, before its three names.
const uint32_t kWindowTableHead = 8;
const uint32_t kWindowEntryHead = 23;
const uint32_t kLongestWindowName = platform::kWindowNameSize - 1;
const uint32_t kLargestWindowTable =
    kWindowTableHead + kMostWindows * (kWindowEntryHead + 3 * kLongestWindowName);

// The windows a recording holds, in the order they were first seen.
struct WindowTable {
    platform::WindowInfo* entries;
    uint32_t count;
    uint32_t capacity;
};

// The number of the entry for the window of that program, class and title, added with its place
// when there is none: a window that moves keeps its one entry. 0 when the table is full or no
// memory can be had, so the event then belongs to no window.
uint32_t AddWindow(WindowTable* table, const platform::WindowInfo& window);
// The same without looking for an equal entry: a file's table is kept as it was.
uint32_t AppendWindow(WindowTable* table, const platform::WindowInfo& window);
void ReleaseWindows(WindowTable* table);
bool SameWindow(const platform::WindowInfo& a, const platform::WindowInfo& b);

// Bytes of the table of `count` windows; 0 for none, as no table is written then.
uint32_t WindowTableSize(const platform::WindowInfo* windows, uint32_t count);
// Encodes one entry and returns its size.
uint32_t EncodeWindow(const platform::WindowInfo& window, uint8_t* bytes);
void EncodeWindowTable(const platform::WindowInfo* windows, uint32_t count, uint8_t* bytes);

// The table's count and entries, without its tag: how a table is held in a section.
void EncodeWindowEntries(const platform::WindowInfo* windows, uint32_t count, uint8_t* bytes);

// Whether the header's `size` bytes after its first 40 hold a window table alone: they begin with
// its tag.
bool HasWindowTable(const uint8_t* bytes, uint32_t size);
// Hands each entry of the count and entries in `size` bytes to `take`. False when they are
// damaged: no entry or more than kMostWindows, a name with a zero byte in it, an entry past the
// end, or bytes left after the last entry.
typedef bool (*TakeWindow)(void* context, const platform::WindowInfo& window);
bool DecodeWindowEntries(const uint8_t* bytes, uint32_t size, TakeWindow take, void* context);

uint32_t DecodeWindowReference(const uint8_t* record);
void EncodeWindowReference(uint32_t window, uint8_t* record);

}  // namespace journal
