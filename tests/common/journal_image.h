// Journal file images for the unit tests and the fuzzers: every header field follows from the
// records unless a test sets it, so one can damage exactly one field.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/input.h"

namespace testkit {

inline void PutU32(std::string& bytes, uint32_t value) {
    for (int i = 0; i < 4; i++)
        bytes += char(value >> (8 * i));
}

inline uint32_t GetU32(const uint8_t* bytes) {
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
           uint32_t(bytes[3]) << 24;
}

inline uint32_t GetU32(const std::string& bytes, size_t at) {
    return GetU32(reinterpret_cast<const uint8_t*>(bytes.data()) + at);
}

struct JournalHeader {
    std::string signature = "Quorvatellianis";  // padded with zeros to the 16-byte field
    uint32_t headerSize = 40;                   // a longer header is padded with zeros
    uint32_t recordSize = 20;                   // longer records are padded with 0xEE
    std::optional<uint32_t> count = {}, first = {}, last = {}, duration = {};
    // A window table after the 40 bytes (the header size then follows from it unless set), and
    // each record's window number in its bytes 20-23.
    std::string table = {};
    std::vector<uint32_t> windowOf = {};
};

// One entry of a window table: rectangle, dpi, then the three names.
inline std::string WindowEntry(const std::string& program, const std::string& windowClass,
                               const std::string& title, int32_t left = 0, int32_t top = 0,
                               int32_t right = 640, int32_t bottom = 480, uint32_t dpi = 96) {
    std::string bytes;
    for (uint32_t value : {uint32_t(left), uint32_t(top), uint32_t(right), uint32_t(bottom), dpi})
        PutU32(bytes, value);
    for (const std::string* name : {&program, &windowClass, &title})
        bytes += char(name->size());
    return bytes + program + windowClass + title;
}

inline std::string WindowTable(const std::vector<std::string>& entries,
                               std::optional<uint32_t> count = {}) {
    std::string bytes = "WTBL";
    PutU32(bytes, count.value_or(uint32_t(entries.size())));
    for (const std::string& entry : entries)
        bytes += entry;
    return bytes;
}

// A section of a header that holds more than a window table: tag, length, bytes.
inline std::string Section(const std::string& tag, const std::string& bytes) {
    std::string section = tag;
    PutU32(section, uint32_t(bytes.size()));
    return section + bytes;
}

// The window table as a section, and a section of places: event, rectangle and dpi each.
inline std::string WindowsSection(const std::string& table) {
    return Section("WNDS", table.substr(4));
}

inline std::string PlacesSection(const std::vector<std::vector<uint32_t>>& places) {
    std::string bytes;
    PutU32(bytes, uint32_t(places.size()));
    for (const std::vector<uint32_t>& place : places)
        for (uint32_t value : place)
            PutU32(bytes, value);
    return Section("WMOV", bytes);
}

inline std::string JournalImage(const std::vector<platform::EventRecord>& events,
                                const JournalHeader& header = {}) {
    std::string bytes = header.signature;
    bytes.resize(16, '\0');
    uint32_t first = header.first.value_or(events.empty() ? 0 : events.front().time);
    uint32_t last = header.last.value_or(events.empty() ? 0 : events.back().time);
    uint32_t headerSize = header.table.empty() || header.headerSize != 40
                              ? header.headerSize
                              : uint32_t(40 + header.table.size());
    for (uint32_t value :
         {headerSize, header.recordSize, header.count.value_or(uint32_t(events.size())), first,
          last, header.duration.value_or(last - first)})
        PutU32(bytes, value);
    bytes += header.table;
    if (bytes.size() < headerSize)
        bytes.resize(headerSize, '\0');
    for (size_t i = 0; i < events.size(); i++) {
        const platform::EventRecord& e = events[i];
        for (uint32_t value : {e.message, e.paramL, e.paramH, e.time, e.hwnd})
            PutU32(bytes, value);
        uint32_t extra = header.recordSize > 20 ? header.recordSize - 20 : 0;
        if (i < header.windowOf.size() && extra >= 4) {
            PutU32(bytes, header.windowOf[i]);
            extra -= 4;
        }
        bytes.resize(bytes.size() + extra, '\xEE');
    }
    return bytes;
}

// `count` key presses 10 ms apart from 100 ms, as a recording of typing would hold.
inline std::vector<platform::EventRecord> Typing(uint32_t count) {
    std::vector<platform::EventRecord> events;
    for (uint32_t i = 0; i < count; i++)
        events.push_back({0x100, 'A' + i, 1, 100 + 10 * i, 0});
    return events;
}

}  // namespace testkit
