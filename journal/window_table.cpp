#include "journal/window_table.h"

#include <cstring>
#include <new>

#include "journal/journal_codec.h"
#include "storage/file_buffer.h"

namespace journal {

namespace {

const uint32_t kFirstCapacity = 8;

void PutU32(uint8_t* bytes, uint32_t value) {
    for (int i = 0; i < 4; i++)
        bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t GetU32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

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
    if (table->count == kMostWindows)
        return 0;
    if (table->count == table->capacity) {
        uint32_t capacity = table->capacity ? table->capacity * 2 : kFirstCapacity;
        platform::WindowInfo* entries = new (std::nothrow) platform::WindowInfo[capacity];
        if (!entries)
            return 0;
        if (table->count)
            memcpy(entries, table->entries, table->count * sizeof(platform::WindowInfo));
        delete[] table->entries;
        table->entries = entries;
        table->capacity = capacity;
    }
    platform::WindowInfo& entry = table->entries[table->count];
    entry = window;
    // Names are cut here, so that what is held is what a save writes.
    entry.program[NameLength(entry.program)] = '\0';
    entry.windowClass[NameLength(entry.windowClass)] = '\0';
    entry.title[NameLength(entry.title)] = '\0';
    return ++table->count;
}

uint32_t AddWindow(WindowTable* table, const platform::WindowInfo& window) {
    for (uint32_t i = 0; i < table->count; i++)
        if (SameWindow(table->entries[i], window))
            return i + 1;
    return AppendWindow(table, window);
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
    PutU32(bytes + 4, count);
    bytes += kWindowTableHead;
    for (uint32_t i = 0; i < count; i++)
        bytes += EncodeWindow(windows[i], bytes);
}

bool HasWindowTable(const uint8_t* bytes, uint32_t size) {
    return size >= sizeof kWindowTableTag &&
           memcmp(bytes, kWindowTableTag, sizeof kWindowTableTag) == 0;
}

bool DecodeWindowTable(const uint8_t* bytes, uint32_t size, TakeWindow take, void* context) {
    if (!HasWindowTable(bytes, size) || size < kWindowTableHead)
        return false;
    uint32_t count = GetU32(bytes + 4);
    if (count == 0 || count > kMostWindows)
        return false;
    uint32_t at = kWindowTableHead;
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

bool ReadWindowTable(FileBuffer* file, const JournalHeader& header, WindowTable* table) {
    // Only the tag tells a table; a header too short for the rest of it is a damaged one.
    if (header.headerSize < kHeaderSize + sizeof kWindowTableTag)
        return true;
    const uint8_t* tag = file->ReadAt(sizeof kWindowTableTag, kHeaderSize);
    if (!tag)
        return false;
    if (!HasWindowTable(tag, sizeof kWindowTableTag))
        return true;
    uint32_t size = header.headerSize - kHeaderSize;
    if (size > kLargestWindowTable || header.recordSize < kWindowRecordSize)
        return false;
    const uint8_t* bytes = file->ReadAt(size, kHeaderSize);
    return bytes && DecodeWindowTable(
                        bytes, size,
                        [](void* context, const platform::WindowInfo& window) {
                            // Equal entries stay apart: the records name them by place.
                            return AppendWindow(static_cast<WindowTable*>(context), window) != 0;
                        },
                        table);
}

}  // namespace journal
