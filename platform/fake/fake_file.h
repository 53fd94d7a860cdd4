// Test controls of the host file service: scripted dialog answers, injected faults and a count of
// open handles. The service itself works on real POSIX files, so tests check results on disk.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace fake {

// Calls of the file service that can be counted and made to fail.
enum FileCall {
    kFileOpen,     // FileOpenExisting and FileLockExisting
    kFileCreate,   // FileCreateNew
    kFileRead,     // FileReadAt
    kFileWrite,    // FileWriteAt
    kFileClose,    // FileClose (the handle is released all the same)
    kFileReplace,  // FileReplace
    kFileDelete,   // FileDelete
    kFileCallKinds
};

// Forgets faults, answers, the dialog log and the call counts. Open handles stay open.
void ResetFiles();

// Makes the nth call of that kind from now on fail (1 = the next one). A failed write stores
// nothing; a failed close still releases the handle.
void FailFileCall(FileCall call, int nth);
// Makes the nth write from now on store only `stored` bytes (at most its length) and report
// that count as a success of the system call.
void ShortenFileWrite(int nth, uint32_t stored);
// Calls of that kind since the last ResetFiles.
int FileCallCount(FileCall call);

// Handles opened and not yet closed: 0 once every user has released its files.
int OpenFileCount();

// The next dialog answers `path`; empty text cancels. Answers queue up in order; a dialog with
// no answer waiting is cancelled.
void PushDialogAnswer(const char* path);

// Runs `action` inside the next dialog, while it is open and before it answers, as the real
// dialog's message loop delivers what the user does meanwhile.
void WhileNextDialogIsOpen(std::function<void()> action);

struct FileDialogShown {
    int save;
    std::string filter;  // every description and pattern, each followed by its NUL
    std::string defaultExtension;
    uint32_t capacity;
};
// Every dialog shown since the last ResetFiles, oldest first.
std::vector<FileDialogShown> FileDialogsShown();

}  // namespace fake
