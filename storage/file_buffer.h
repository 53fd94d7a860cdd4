// FileBuffer: the one road to files. One open file at a time, with a 1 MiB read window and a
// 1 MiB write window over it, so that small records and large audio pieces reach the disk in
// large transfers. Without a file name it asks the user through the open or save dialog.
//
// Reading opens an existing file (below 2 GiB). A save is written to a temporary file beside its
// target and replaces the target only when Close finds every byte stored, so a failed or
// abandoned save leaves the previous file as it was, and a new one leaves nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/types.h"

// Why a save or a load was not done, for telling the user. Nothing failed when it was done, and
// when it was refused before any file was named: the user cancelled the dialog, or there was
// nothing to save.
struct FileFailure {
    bool failed = false;
    std::string name;          // the file
    uint32_t systemError = 0;  // the system's error of the call that failed, 0 for none
    std::string why;           // else, when the content was at fault: what was wrong, in words
};

// The reason of a load that could not hold the whole file in memory.
inline constexpr char kNoMemoryForFile[] = "there is not enough memory to hold it";

// What Open does with the file: the values are those of the open's mode argument.
enum class FileMode : int32_t {
    Saving = 0,
    Reading = 1,
};

class FileBuffer {
  public:
    static constexpr uint32_t kWindowSize =
        1048576;                                     // each window, and the most one transfer takes
    static constexpr uint32_t kNameCapacity = 1024;  // path characters plus the terminator

    FileBuffer();
    // An object destroyed while open abandons its file: pending writes are dropped and a save
    // leaves its target untouched.
    virtual ~FileBuffer();

    // Closes any open file, then opens `nameOrFilter` as a path (when `nameGiven`) or the file
    // the user picks in a dialog showing that filter. True when a file is open afterwards.
    bool Open(FileMode mode, const char* nameOrFilter, bool nameGiven);
    bool OpenForReading(const char* path) { return Open(FileMode::Reading, path, true); }
    bool OpenForSaving(const char* path) { return Open(FileMode::Saving, path, true); }
    bool ChooseAndOpen(FileMode mode, const char* filter) { return Open(mode, filter, false); }
    // Shows the dialog; returns the chosen path, or empty text when none was chosen.
    const char* ChooseFile(FileMode mode, const char* filter);
    // Opens `path` (an empty path does nothing); the outcome is read through IsOpen.
    void OpenByName(FileMode mode, const char* path);
    bool IsOpen() const;

    // Returns `length` bytes from `offset` (negative: right after the bytes the read window
    // holds), valid until the next ReadAt or Close; bytes past the end read as zero. Null when
    // refused or when the system could not read.
    const uint8_t* ReadAt(uint32_t length, int32_t offset);
    // Takes `length` bytes for `offset` (negative: right after the end of the last write).
    // False when refused, including when moving the window could not store its bytes; any
    // refusal while a file is open abandons a save (Close then reports false).
    bool WriteAt(const void* data, uint32_t length, int32_t offset);
    // Stores the write window. False when nothing is open or waiting, or the store failed.
    bool Flush();
    // Stores what waits and closes; a save then replaces its target. False when any byte
    // accepted since the open was not stored (a save is then abandoned).
    bool Close();
    // Size as stored, without bytes still waiting in the write window. 0 when nothing is open.
    uint32_t GetSize() const;
    // The path last opened or tried, or the dialog's answer; empty before any.
    const char* GetFileName() const;
    // The system's error of the first call that failed since the last open (0 for none).
    uint32_t GetError() const { return error; }
    // Fills `failure` for the open, transfer or close that failed (with `why`, for content that
    // was refused), unless no file was named; returns false, for the caller's failing return.
    bool Failed(FileFailure* failure, const std::string& why = std::string()) const;

    // Removes a file that nobody has open. True when it is gone afterwards.
    static bool Remove(const char* path);
    // When a file was last written, in milliseconds from a moment of the system's choosing.
    // False when there is no such file.
    static bool GetModifiedTime(const char* path, uint64_t* milliseconds);

    FileBuffer(const FileBuffer&) = delete;
    FileBuffer& operator=(const FileBuffer&) = delete;

  private:
    void Abandon();
    void NoteError();
    // Ends a save: its temporary replaces the target when `stored`, else it is removed.
    bool Commit(bool stored);

    std::unique_ptr<char[]> name;
    platform::FileHandle file;  // for a save: the temporary
    std::unique_ptr<uint8_t[]> readWindow;
    uint32_t readStart;
    uint32_t readCount;
    std::unique_ptr<uint8_t[]> writeWindow;
    uint32_t writeStart;
    uint32_t writeLength;
    bool clean;

    // A save holds an existing target open (others may only read it) while writing the
    // temporary.
    platform::FileHandle target;
    std::unique_ptr<char[]> tempName;
    bool saving;       // the open file is a save's temporary
    bool storeFailed;  // some accepted bytes never reached the file since the open
    uint32_t error;
    const char* refusal;  // why the last open refused a path on its own, in words; null for none
};
