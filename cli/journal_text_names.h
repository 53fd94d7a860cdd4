// The names and numbers that the journal text's writer (journal_text.cpp) and reader
// (journal_text_read.cpp, journal_text_events.cpp) share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qvjournal {
namespace text {

const uint32_t kMouseMove = 0x200;
const uint32_t kWheel = 0x20A;
const uint32_t kXButtonDown = 0x20B;
const uint32_t kHorizontalWheel = 0x20E;
const uint32_t kExtendedKey = 0x8000;
const size_t kBytesPerLine = 32;

struct KeyName {
    uint8_t vk;
    uint8_t scan;  // on a US keyboard: what build takes when a line gives none
    const char* name;
};

// Every key with a name of its own; letters and digits are named by themselves.
extern const KeyName kKeys[];
extern const size_t kKeyCount;
extern const char* const kButtons[3];
extern const char* const kActions[3];

// The words of a move's motion flags.
struct MotionWord {
    uint32_t flag;
    const char* word;
};
extern const MotionWord kMotionWords[];
extern const size_t kMotionWordCount;

// The scan code of a letter or digit on a US keyboard; 0 for other characters.
uint8_t RowScan(char c);
std::string KeyNameOf(uint8_t vk);
// Equal but for the letters' case.
bool SameLetters(const std::string& a, const char* b);
std::string Hex(uint32_t value, int digits);
std::string HexBytes(const uint8_t* bytes, size_t count);
// A section's tag: its four characters where they read as a word, else 0x and their hex.
std::string TagName(const char* tag);
// The bytes up to the last one that is not zero: zeros after it are what build fills in.
size_t Significant(const uint8_t* bytes, size_t count);

}  // namespace text
}  // namespace qvjournal
