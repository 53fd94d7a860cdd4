// The sound file beside a journal file: its name, and the header that makes it one of ours (the
// signature and a zero byte, then the raw track). Shared by the sound recorder and the journal
// tool.
#pragma once

#include <cstdint>
#include <memory>

namespace sound {

// The track's rate: 8-bit mono samples, one byte each.
const uint32_t kBytesPerSecond = 22050;

// The journal file's name with "_" appended, in a buffer of its own; null when out of memory.
std::unique_ptr<char[]> SoundFileName(const char* journalFileName);

// Bytes before the track: the signature and its zero byte.
uint32_t SoundHeaderLength(const char* signature);

// Whether a file of `size` bytes whose first SoundHeaderLength bytes are `top` holds a track of
// this signature. Bytes past the end read as zero, so a file without room for the zero byte is
// told by its size.
bool IsSoundFile(const uint8_t* top, uint32_t size, const char* signature);

// A sound file is saved right after its journal, so the one of its own recording is never
// older. True when this one was written before its journal (by more than file systems that keep
// whole seconds can blur): it belongs to a recording that the journal replaced.
bool WrittenBeforeItsJournal(const char* soundFileName, const char* journalFileName);

}  // namespace sound
