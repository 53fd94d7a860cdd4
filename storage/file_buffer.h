// FileBuffer: the one road to files. One open file at a time, with a 1 MiB read window and a
// 1 MiB write window over it, so that small records and large audio pieces reach the disk in
// large transfers. Without a file name it asks the user through the open or save dialog.
//
// Mode 1 opens an existing file for reading (below 2 GiB); any other mode saves. A save is
// written to a temporary file beside its target and replaces the target only when Close finds
// every byte stored, so a failed or abandoned save leaves the previous file as it was, and a
// new one leaves nothing.
#pragma once

#include <cstdint>

#include "platform/types.h"

class FileBuffer {
  public:
    static constexpr uint32_t kWindowSize =
        1048576;                                     // each window, and the most one transfer takes
    static constexpr uint32_t kNameCapacity = 1024;  // path characters plus the terminator

    FileBuffer();
    // An object destroyed while open abandons its file: pending writes are dropped and a save
    // leaves its target untouched.
    virtual ~FileBuffer();

    // Closes any open file, then opens `nameOrFilter` as a path (nameGiven != 0) or the file
    // the user picks in a dialog showing that filter. Returns 1 when a file is open afterwards.
    int32_t Open(int32_t mode, const char* nameOrFilter, int32_t nameGiven);
    // Shows the dialog; returns the chosen path, or empty text when none was chosen.
    const char* ChooseFile(int32_t mode, const char* filter);
    // Opens `path` (an empty path does nothing); the outcome is read through IsOpen.
    void OpenByName(int32_t mode, const char* path);
    int32_t IsOpen() const;

    // Returns `length` bytes from `offset` (negative: right after the bytes the read window
    // holds), valid until the next ReadAt or Close; bytes past the end read as zero. Null when
    // refused or when the system could not read.
    const uint8_t* ReadAt(uint32_t length, int32_t offset);
    // Takes `length` bytes for `offset` (negative: right after the end of the last write).
    // Returns 0 when refused, including when moving the window could not store its bytes.
    int32_t WriteAt(const void* data, uint32_t length, int32_t offset);
    // Stores the write window. Returns 0 when nothing is open or waiting, or the store failed.
    int32_t Flush();
    // Stores what waits and closes; a save then replaces its target. Returns 0 when any byte
    // accepted since the open was not stored (a save is then abandoned).
    int32_t Close();
    // Size as stored, without bytes still waiting in the write window. 0 when nothing is open.
    uint32_t GetSize() const;
    // The path last opened or tried, or the dialog's answer; empty before any.
    const char* GetFileName() const;

    // Removes a file that nobody has open. Returns 1 when it is gone afterwards.
    static int32_t Remove(const char* path);
    // When a file was last written, in milliseconds from a moment of the system's choosing.
    // Returns 0 when there is no such file.
    static int32_t GetModifiedTime(const char* path, uint64_t* milliseconds);

    FileBuffer(const FileBuffer&) = delete;
    FileBuffer& operator=(const FileBuffer&) = delete;

  private:
    void Abandon();
    // Ends a save: its temporary replaces the target when `stored`, else it is removed.
    int32_t Commit(int32_t stored);

    char* name;
    platform::FileHandle file;  // for a save: the temporary
    uint8_t* readWindow;
    uint32_t readStart;
    uint32_t readCount;
    uint8_t* writeWindow;
    uint32_t writeStart;
    uint32_t writeLength;
    int32_t clean;

    // A save holds an existing target open (and so locked) while writing the temporary.
    platform::FileHandle target;
    char* tempName;
    int32_t saving;       // the open file is a save's temporary
    int32_t storeFailed;  // some accepted bytes never reached the file since the open
};
