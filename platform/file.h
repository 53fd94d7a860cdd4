// File service: the few file operations the storage layer needs, and the open/save dialog.
// Offsets are 32-bit: the storage layer refuses files of 2 GiB and more. Paths are UTF-8, so that
// a name in any script reaches the system as the user typed or chose it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/types.h"

namespace platform {

// Opens with read and write access; others may read the file meanwhile, never write it. Waits
// out another program that holds the file for a moment (about two seconds). Returns
// kInvalidFile on failure (missing, read-only, held by a writer or for longer, bad path).
FileHandle FileOpenExisting(const char* path);
// The same, to hold a save's target while its content is written beside it; *missing tells
// that there was no such file (and nothing was created).
FileHandle FileLockExisting(const char* path, int* missing);
// Creates a file that does not exist yet, with no sharing until it is closed; *exists tells
// that one of that name is there already (and was not touched). Returns kInvalidFile on failure.
FileHandle FileCreateNew(const char* path, int* exists);

// Positioned transfers. Return 1 when the system call succeeded; *done holds the byte count.
int FileReadAt(FileHandle file, uint32_t offset, void* data, uint32_t length, uint32_t* done);
int FileWriteAt(FileHandle file, uint32_t offset, const void* data, uint32_t length,
                uint32_t* done);
// Size as stored, 0 on failure.
uint64_t FileGetSize(FileHandle file);
// Returns 1 when the handle was closed cleanly (its data handed to the system).
int FileClose(FileHandle file);

// Moves `from` over `to` in one step, `to` keeping its attributes when it exists. Waits out
// other programs (virus scanners, indexers) that hold either file for a moment. Returns 1 on
// success; on failure both files are as they were.
int FileReplace(const char* from, const char* to);
// Returns 1 when the file is gone afterwards. Waits out a momentary holder as FileReplace does.
int FileDelete(const char* path);
// When the file was last written, in milliseconds from a moment of the system's choosing.
// Returns 1 when the file is there.
int FileModifiedTime(const char* path, uint64_t* milliseconds);

// 1 when both paths name one existing file, however each spells it (letter case where the
// file system ignores it, "." and "..", links); 0 otherwise.
int FileSame(const char* a, const char* b);

// What a path names, so that a refused open can be explained: nothing, a file that may be
// written, a read-only file, or a folder.
enum PathKind { kPathMissing, kPathFile, kPathReadOnly, kPathFolder };
PathKind FileLookUp(const char* path);

// The system's error of the last call of this service that failed (0 before any), so that a
// refused save or load can tell the user why. File calls all run on the main thread.
uint32_t FileLastError();
// That error as the system words it, UTF-8, on one line without a final stop.
std::string FileErrorText(uint32_t error);
// A path in the system's 8-bit code page (the program's command line) in UTF-8.
std::string FileNameFromSystemText(const char* text);

// Shows the open (save == 0) or save dialog. `filter` is in dialog format (description and
// pattern pairs, ended by an empty string); `defaultExtension` is appended to a typed name
// without one (empty for none). On return `name` holds the chosen full path or empty text.
void FileDialog(int save, const char* filter, const char* defaultExtension, char* name,
                uint32_t capacity);

}  // namespace platform
