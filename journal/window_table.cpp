#include "journal/window_table.h"

#include <cstring>
#include <new>

#include "journal/event_notes.h"
#include "journal/journal_codec.h"
#include "journal/little_endian.h"

namespace journal {

namespace {

uint32_t NameLength(const char* name) {
    return static_cast<uint32_t>(strnlen(name, kLongestWindowName));
}

}  // namespace

bool SameWindow(const platform::WindowInfo& a, const platform::WindowInfo& b) {
    return strcmp(a.program, b.program) == 0 && strcmp(a.windowClass, b.windowClass) == 0 &&
           strcmp(a.title, b.title) == 0 && a.rect.left == b.rect.left &&
           a.rect.top == b.rect.top && a.rect.right == b.rect.right &&
           a.rect.bottom == b.rect.bottom && a.dpi == b.dpi;
}

uint32_t AppendWindow(WindowTable* table, const platform::WindowInfo& window) {
    if (table->count == kMostWindows || !Grow(&table->entries, table->count, &table->capacity, 8))
        return 0;
    platform::WindowInfo& entry = table->entries[table->count];
    entry = window;
    // Names are cut here, so that what is held is what a save writes.
    entry.program[NameLength(entry.program)] = '\0';
    entry.windowClass[NameLength(entry.windowClass)] = '\0';
    entry.title[NameLength(entry.title)] = '\0';
    return ++table->count;
}

uint32_t AddWindow(WindowTable* table, const platform::WindowInfo& window) {
    platform::WindowInfo cut = window;  // compared as it would be held
    cut.program[NameLength(cut.program)] = '\0';
    cut.windowClass[NameLength(cut.windowClass)] = '\0';
    cut.title[NameLength(cut.title)] = '\0';
    for (uint32_t i = 0; i < table->count; i++) {
        const platform::WindowInfo& entry = table->entries[i];
        if (strcmp(entry.program, cut.program) == 0 &&
            strcmp(entry.windowClass, cut.windowClass) == 0 && strcmp(entry.title, cut.title) == 0)
            return i + 1;
    }
    return AppendWindow(table, cut);
}

void ReleaseWindows(WindowTable* table) {
    delete[] table->entries;
    *table = WindowTable{nullptr, 0, 0};
}

uint32_t WindowTableSize(const platform::WindowInfo* windows, uint32_t count) {
    if (!count)
        return 0;
    uint32_t size = kWindowTableHead;
    for (uint32_t i = 0; i < count; i++)
        size += kWindowEntryHead + NameLength(windows[i].program) +
                NameLength(windows[i].windowClass) + NameLength(windows[i].title);
    return size;
}

uint32_t EncodeWindow(const platform::WindowInfo& window, uint8_t* bytes) {
    PutU32(bytes, static_cast<uint32_t>(window.rect.left));
    PutU32(bytes + 4, static_cast<uint32_t>(window.rect.top));
    PutU32(bytes + 8, static_cast<uint32_t>(window.rect.right));
    PutU32(bytes + 12, static_cast<uint32_t>(window.rect.bottom));
    PutU32(bytes + 16, window.dpi);
    uint32_t at = kWindowEntryHead;
    const char* names[] = {window.program, window.windowClass, window.title};
    for (int i = 0; i < 3; i++) {
        uint32_t length = NameLength(names[i]);
        bytes[20 + i] = static_cast<uint8_t>(length);
        memcpy(bytes + at, names[i], length);
        at += length;
    }
    return at;
}

void EncodeWindowTable(const platform::WindowInfo* windows, uint32_t count, uint8_t* bytes) {
    memcpy(bytes, kWindowTableTag, sizeof kWindowTableTag);
    EncodeWindowEntries(windows, count, bytes + sizeof kWindowTableTag);
}

void EncodeWindowEntries(const platform::WindowInfo* windows, uint32_t count, uint8_t* bytes) {
    PutU32(bytes, count);
    bytes += kWindowTableHead - sizeof kWindowTableTag;
    for (uint32_t i = 0; i < count; i++)
        bytes += EncodeWindow(windows[i], bytes);
}

bool HasWindowTable(const uint8_t* bytes, uint32_t size) {
    return size >= sizeof kWindowTableTag &&
           memcmp(bytes, kWindowTableTag, sizeof kWindowTableTag) == 0;
}

bool DecodeWindowEntries(const uint8_t* bytes, uint32_t size, TakeWindow take, void* context) {
    if (size < 4)
        return false;
    uint32_t count = GetU32(bytes);
    if (count == 0 || count > kMostWindows)
        return false;
    uint32_t at = 4;
    for (uint32_t i = 0; i < count; i++) {
        if (size - at < kWindowEntryHead)
            return false;
        const uint8_t* entry = bytes + at;
        platform::WindowInfo window;
        window.rect = {static_cast<int32_t>(GetU32(entry)), static_cast<int32_t>(GetU32(entry + 4)),
                       static_cast<int32_t>(GetU32(entry + 8)),
                       static_cast<int32_t>(GetU32(entry + 12))};
        window.dpi = GetU32(entry + 16);
        at += kWindowEntryHead;
        char* names[] = {window.program, window.windowClass, window.title};
        for (int k = 0; k < 3; k++) {
            uint32_t length = entry[20 + k];
            if (size - at < length || memchr(bytes + at, 0, length))
                return false;
            memcpy(names[k], bytes + at, length);
            names[k][length] = '\0';
            at += length;
        }
        if (!take(context, window))
            return false;
    }
    return at == size;
}

uint32_t DecodeWindowReference(const uint8_t* record) {
    return GetU32(record + kRecordSize);
}

void EncodeWindowReference(uint32_t window, uint8_t* record) {
    PutU32(record + kRecordSize, window);
}

}  // namespace journal
