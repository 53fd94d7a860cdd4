// Host file service over POSIX files. Win32 behaviour that the storage code depends on is
// emulated: every open asks for write access and lets others only read, so a file open here
// cannot be opened, replaced or deleted again through this service until it is closed, and
// read-only files refuse write access even to root.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>

#include "platform/fake/fake_file.h"
#include "platform/posix/transfer.h"
#include "platform/file.h"

namespace {

struct OpenFile {
    int fd;
    dev_t device;
    ino_t inode;
};

struct Fault {
    fake::FileCall call;
    int remaining;    // calls of that kind still to pass before this one
    int shortWrite;   // a short write rather than a failure
    uint32_t stored;  // bytes a short write stores
};

struct State {
    std::mutex lock;
    std::vector<OpenFile*> open;
    std::vector<Fault> faults;
    int counts[fake::kFileCallKinds] = {};
    std::deque<std::string> answers;
    std::vector<fake::FileDialogShown> dialogs;
    std::function<void()> whileOpen;
    uint32_t lastError = 0;
};

State& state() {
    static State s;
    return s;
}

// Counts the call and reports whether an armed fault fires on it. Caller holds the lock.
const Fault* Strike(State& s, fake::FileCall call, Fault* fired) {
    s.counts[call]++;
    const Fault* hit = nullptr;
    for (size_t i = 0; i < s.faults.size();) {
        if (s.faults[i].call == call && --s.faults[i].remaining == 0) {
            *fired = s.faults[i];
            hit = fired;
            s.faults.erase(s.faults.begin() + static_cast<ptrdiff_t>(i));
        } else {
            ++i;
        }
    }
    return hit;
}

// Notes why a call failed (the system's errno, or EIO for an injected fault) and returns the
// call's answer for it. Caller holds the lock.
template <class Answer>
Answer Failed(State& s, int error, Answer answer) {
    s.lastError = static_cast<uint32_t>(error);
    return answer;
}

int IsOpenHere(State& s, dev_t device, ino_t inode) {
    for (OpenFile* f : s.open)
        if (f->device == device && f->inode == inode)
            return 1;
    return 0;
}

int PathIsOpenHere(State& s, const char* path) {
    struct stat st;
    return stat(path, &st) == 0 && IsOpenHere(s, st.st_dev, st.st_ino);
}

OpenFile* Handle(platform::FileHandle file) {
    if (!file || file == platform::kInvalidFile)
        return nullptr;
    return static_cast<OpenFile*>(file);
}

// Registers an opened descriptor, or closes it when Win32 would have refused the open.
platform::FileHandle Adopt(State& s, int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !(st.st_mode & S_IWUSR) ||
        IsOpenHere(s, st.st_dev, st.st_ino)) {
        close(fd);
        return Failed(s, EACCES, platform::kInvalidFile);
    }
    OpenFile* f = new OpenFile{fd, st.st_dev, st.st_ino};
    s.open.push_back(f);
    return f;
}

}  // namespace

namespace platform {

FileHandle FileOpenExisting(const char* path) {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    Fault fired;
    if (Strike(s, fake::kFileOpen, &fired))
        return Failed(s, EIO, kInvalidFile);
    int fd = open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return Failed(s, errno, kInvalidFile);
    return Adopt(s, fd);
}

FileHandle FileLockExisting(const char* path, int* missing) {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    Fault fired;
    *missing = 0;
    if (Strike(s, fake::kFileOpen, &fired))
        return Failed(s, EIO, kInvalidFile);
    int fd = open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        *missing = errno == ENOENT;
        return Failed(s, errno, kInvalidFile);
    }
    return Adopt(s, fd);
}

FileHandle FileCreateNew(const char* path, int* exists) {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    Fault fired;
    *exists = 0;
    if (Strike(s, fake::kFileCreate, &fired))
        return Failed(s, EIO, kInvalidFile);
    int fd = open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        *exists = errno == EEXIST;
        return Failed(s, errno, kInvalidFile);
    }
    FileHandle file = Adopt(s, fd);
    if (file == kInvalidFile)
        unlink(path);
    return file;
}

int FileReadAt(FileHandle file, uint32_t offset, void* data, uint32_t length, uint32_t* done) {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    Fault fired;
    *done = 0;
    OpenFile* f = Handle(file);
    if (Strike(s, fake::kFileRead, &fired) || !f)
        return Failed(s, EIO, 0);
    if (!platform::posix::ReadFully(f->fd, offset, data, length, done))
        return Failed(s, errno, 0);
    return 1;
}

int FileWriteAt(FileHandle file, uint32_t offset, const void* data, uint32_t length,
                uint32_t* done) {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    Fault fired;
    *done = 0;
    OpenFile* f = Handle(file);
    const Fault* fault = Strike(s, fake::kFileWrite, &fired);
    if (!f || (fault && !fault->shortWrite))
        return Failed(s, EIO, 0);
    if (fault && fault->stored < length)
        length = fault->stored;
    uint32_t stored = 0;
    if (!platform::posix::WriteFully(f->fd, offset, data, length, &stored))
        return Failed(s, errno, 0);  // as a failed WriteFile reports nothing stored
    *done = stored;
    return 1;
}

uint64_t FileGetSize(FileHandle file) {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    OpenFile* f = Handle(file);
    struct stat st;
    if (!f || fstat(f->fd, &st) != 0)
        return 0;
    return static_cast<uint64_t>(st.st_size);
}

int FileClose(FileHandle file) {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    Fault fired;
    OpenFile* f = Handle(file);
    if (!f)
        return 0;
    int failed = Strike(s, fake::kFileClose, &fired) != nullptr;
    for (size_t i = 0; i < s.open.size(); ++i) {
        if (s.open[i] == f) {
            s.open.erase(s.open.begin() + static_cast<ptrdiff_t>(i));
            break;
        }
    }
    int closed = close(f->fd) == 0;
    if (!closed || failed)
        Failed(s, failed ? EIO : errno, 0);
    delete f;
    return closed && !failed;
}

int FileReplace(const char* from, const char* to) {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    Fault fired;
    if (Strike(s, fake::kFileReplace, &fired))
        return Failed(s, EIO, 0);
    if (PathIsOpenHere(s, from) || PathIsOpenHere(s, to))
        return Failed(s, EBUSY, 0);
    if (rename(from, to) != 0)
        return Failed(s, errno, 0);
    return 1;
}

int FileDelete(const char* path) {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    Fault fired;
    if (Strike(s, fake::kFileDelete, &fired))
        return Failed(s, EIO, 0);
    if (PathIsOpenHere(s, path))
        return Failed(s, EBUSY, 0);
    if (unlink(path) == 0 || errno == ENOENT)
        return 1;
    return Failed(s, errno, 0);
}

int FileModifiedTime(const char* path, uint64_t* milliseconds) {
    struct stat st;
    if (stat(path, &st) != 0)
        return 0;
    *milliseconds = uint64_t(st.st_mtim.tv_sec) * 1000 + uint64_t(st.st_mtim.tv_nsec) / 1000000;
    return 1;
}

int FileSame(const char* a, const char* b) {
    struct stat first, second;
    return stat(a, &first) == 0 && stat(b, &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

PathKind FileLookUp(const char* path) {
    struct stat st;
    if (stat(path, &st) != 0)
        return kPathMissing;
    if (S_ISDIR(st.st_mode))
        return kPathFolder;
    return st.st_mode & S_IWUSR ? kPathFile : kPathReadOnly;
}

uint32_t FileLastError() {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.lastError;
}

std::string FileErrorText(uint32_t error) {
    return strerror(static_cast<int>(error));
}

std::string FileNameFromSystemText(const char* text) {
    return text;
}

void FileDialog(int save, const char* filter, const char* defaultExtension, char* name,
                uint32_t capacity) {
    State& s = state();
    std::unique_lock<std::mutex> guard(s.lock);
    fake::FileDialogShown shown{save, std::string(), defaultExtension ? defaultExtension : "",
                                capacity};
    for (const char* p = filter; p && *p;) {  // description, pattern, description, ... ""
        size_t n = strlen(p) + 1;
        shown.filter.append(p, n);
        p += n;
    }
    s.dialogs.push_back(shown);
    if (capacity)
        name[0] = '\0';
    if (s.whileOpen) {
        std::function<void()> action;
        action.swap(s.whileOpen);
        guard.unlock();
        action();
        guard.lock();
    }
    if (s.answers.empty())
        return;
    std::string answer = s.answers.front();
    s.answers.pop_front();
    // A path that does not fit is the real dialog's failure: nothing chosen.
    if (answer.size() < capacity)
        memcpy(name, answer.c_str(), answer.size() + 1);
}

}  // namespace platform

namespace fake {

void ResetFiles() {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.faults.clear();
    s.answers.clear();
    s.dialogs.clear();
    s.whileOpen = nullptr;
    for (int& n : s.counts)
        n = 0;
}

void FailFileCall(FileCall call, int nth) {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    if (nth > 0)
        s.faults.push_back(Fault{call, nth, 0, 0});
}

void ShortenFileWrite(int nth, uint32_t stored) {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    if (nth > 0)
        s.faults.push_back(Fault{kFileWrite, nth, 1, stored});
}

int FileCallCount(FileCall call) {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.counts[call];
}

int OpenFileCount() {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    return static_cast<int>(s.open.size());
}

void WhileNextDialogIsOpen(std::function<void()> action) {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.whileOpen = std::move(action);
}

void PushDialogAnswer(const char* path) {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.answers.push_back(path ? path : "");
}

std::vector<FileDialogShown> FileDialogsShown() {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.dialogs;
}

}  // namespace fake
