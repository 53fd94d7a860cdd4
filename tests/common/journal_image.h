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
};

inline std::string JournalImage(const std::vector<platform::EventRecord>& events,
                                const JournalHeader& header = {}) {
    std::string bytes = header.signature;
    bytes.resize(16, '\0');
    uint32_t first = header.first.value_or(events.empty() ? 0 : events.front().time);
    uint32_t last = header.last.value_or(events.empty() ? 0 : events.back().time);
    for (uint32_t value :
         {header.headerSize, header.recordSize, header.count.value_or(uint32_t(events.size())),
          first, last, header.duration.value_or(last - first)})
        PutU32(bytes, value);
    if (bytes.size() < header.headerSize)
        bytes.resize(header.headerSize, '\0');
    for (const platform::EventRecord& e : events) {
        for (uint32_t value : {e.message, e.paramL, e.paramH, e.time, e.hwnd})
            PutU32(bytes, value);
        if (header.recordSize > 20)
            bytes.resize(bytes.size() + header.recordSize - 20, '\xEE');
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
