// File service: the few file operations the storage layer needs, and the open/save dialog.
// Offsets and sizes are 32-bit: files larger than 4 GiB are out of scope.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace platform {

// Opens with read and write access and no sharing, so nobody else can use the file meanwhile.
// Returns kInvalidFile on failure (missing, read-only, in use, bad path).
FileHandle FileOpenExisting(const char* path);
// Creates or truncates. Returns kInvalidFile on failure.
FileHandle FileCreate(const char* path);
// Opens an existing file or creates an empty one; *created tells which. Returns kInvalidFile on
// failure. Used to hold a save's target while its content is written beside it.
FileHandle FileOpenAlways(const char* path, int* created);

// Positioned transfers. Return 1 when the system call succeeded; *done holds the byte count.
int FileReadAt(FileHandle file, uint32_t offset, void* data, uint32_t length, uint32_t* done);
int FileWriteAt(FileHandle file, uint32_t offset, const void* data, uint32_t length,
                uint32_t* done);
// Size as stored (low 32 bits), 0 on failure.
uint32_t FileGetSize(FileHandle file);
// Returns 1 when the handle was closed cleanly (its data handed to the system).
int FileClose(FileHandle file);

// Moves `from` over `to`, replacing it in one step. Returns 1 on success.
int FileReplace(const char* from, const char* to);
// Returns 1 when the file is gone afterwards.
int FileDelete(const char* path);

// What a path names, so that a refused open can be explained: nothing, a file that may be
// written, a read-only file, or a folder.
enum PathKind { kPathMissing, kPathFile, kPathReadOnly, kPathFolder };
PathKind FileLookUp(const char* path);

// Shows the open (save == 0) or save dialog. `filter` is in dialog format (description and
// pattern pairs, ended by an empty string); `defaultExtension` is appended to a typed name
// without one (empty for none). On return `name` holds the chosen full path or empty text.
void FileDialog(int save, const char* filter, const char* defaultExtension, char* name,
                uint32_t capacity);

}  // namespace platform
