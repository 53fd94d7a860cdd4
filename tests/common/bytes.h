// Byte strings for file tests on either platform: a pattern that shows misplaced bytes, and a
// readable copy of what a read window returned.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

inline std::string Pattern(size_t size, int seed) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i)
        s[i] = char((i * 31 + static_cast<size_t>(seed)) % 251);
    return s;
}

inline std::string Bytes(const uint8_t* p, size_t n) {
    return p ? std::string(reinterpret_cast<const char*>(p), n) : std::string("<null>");
}
