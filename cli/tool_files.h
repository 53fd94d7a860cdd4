// The journal tool's one file buffer, its opens and its writes. Each that fails says why in `why`,
// as words that follow the file's name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "storage/file_buffer.h"

namespace qvjournal {

// One file buffer serves every read and write of the tool, one file at a time, as each recorder
// of the program has one for all its saves and loads.
FileBuffer& Buffer();

bool OpenToRead(FileBuffer* file, const std::string& path, std::string* why);
// A save: the file stays as it was until FinishWrite.
bool OpenToWrite(FileBuffer* file, const std::string& path, std::string* why);
// Closes a save; false when not every byte reached the file, which then stays as it was.
bool FinishWrite(FileBuffer* file, bool stored, std::string* why);
// Writes `size` bytes at the end of a save, a window at a time.
bool WriteSpan(FileBuffer* file, const uint8_t* data, size_t size);

}  // namespace qvjournal
