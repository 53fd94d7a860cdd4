// The journal's numbers as the file holds them: little-endian whatever the machine, and at any
// alignment.
#pragma once

#include <cstdint>

namespace journal {

inline void PutU16(uint8_t* bytes, uint32_t value) {
    bytes[0] = static_cast<uint8_t>(value);
    bytes[1] = static_cast<uint8_t>(value >> 8);
}

inline void PutU32(uint8_t* bytes, uint32_t value) {
    PutU16(bytes, value);
    PutU16(bytes + 2, value >> 16);
}

inline uint32_t GetU16(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8;
}

inline uint32_t GetU32(const uint8_t* bytes) {
    return GetU16(bytes) | GetU16(bytes + 2) << 16;
}

}  // namespace journal
