// POSIX file service, for the journal tool built for Linux. It keeps the refusals of the Win32
// service that a save relies on: files without write permission (the read-only attribute) and
// anything but a regular file are refused, a new file is never one that exists, every close
// reaches the disk before a save's temporary replaces its target, and the replacement is one
// rename, so a failed save leaves the previous file as it was. No other program's handle
// refuses a call here, so nothing is tried twice.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/file.h"
#include "platform/posix/transfer.h"

namespace platform {

namespace {

int lastError = 0;

// Notes errno as the reason of the call that failed; returns `answer`.
template <class Answer>
Answer Failed(Answer answer) {
    lastError = errno;
    return answer;
}

// Descriptors travel as handles one above their number, so that none is null.
FileHandle ToHandle(int fd) {
    return reinterpret_cast<FileHandle>(static_cast<intptr_t>(fd) + 1);
}

int Descriptor(FileHandle file) {
    if (!file || file == kInvalidFile)
        return -1;
    return static_cast<int>(reinterpret_cast<intptr_t>(file) - 1);
}

bool Writable(const struct stat& st) {
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}

// Refuses what the Win32 service refuses: a folder, a device or a pipe, a read-only file. The
// open does not wait for a pipe's other end.
FileHandle Open(const char* path, int flags) {
    int fd;
    do
        fd = open(path, flags | O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return Failed(kInvalidFile);
    // A file this call created is ours whatever the umask made of its permissions.
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || (!(flags & O_CREAT) && !Writable(st)) ||
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        close(fd);
        errno = EACCES;
        return Failed(kInvalidFile);
    }
    return ToHandle(fd);
}

// After a rename the folder holds the new name only once it reaches the disk too.
void SyncFolderOf(const char* path) {
    std::string folder(path);
    size_t slash = folder.find_last_of('/');
    folder = slash == std::string::npos ? "." : slash == 0 ? "/" : folder.substr(0, slash);
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

}  // namespace

FileHandle FileOpenExisting(const char* path) {
    return Open(path, 0);
}

FileHandle FileLockExisting(const char* path, int* missing) {
    FileHandle file = Open(path, 0);
    *missing = file == kInvalidFile && errno == ENOENT;
    return file;
}

FileHandle FileCreateNew(const char* path, int* exists) {
    FileHandle file = Open(path, O_CREAT | O_EXCL);
    *exists = file == kInvalidFile && errno == EEXIST;
    return file;
}

int FileReadAt(FileHandle file, uint32_t offset, void* data, uint32_t length, uint32_t* done) {
    *done = 0;
    int fd = Descriptor(file);
    if (fd < 0)
        return 0;
    return posix::ReadFully(fd, offset, data, length, done) ? 1 : Failed(0);
}

int FileWriteAt(FileHandle file, uint32_t offset, const void* data, uint32_t length,
                uint32_t* done) {
    *done = 0;
    int fd = Descriptor(file);
    if (fd < 0)
        return 0;
    return posix::WriteFully(fd, offset, data, length, done) ? 1 : Failed(0);
}

uint64_t FileGetSize(FileHandle file) {
    struct stat st;
    int fd = Descriptor(file);
    if (fd < 0 || fstat(fd, &st) != 0)
        return 0;
    return static_cast<uint64_t>(st.st_size);
}

int FileClose(FileHandle file) {
    int fd = Descriptor(file);
    if (fd < 0)
        return 0;
    // A late write error (a full disk, a network file system) shows up here rather than never.
    int synced = fsync(fd) == 0 || Failed(0);
    int closed = close(fd) == 0 || Failed(0);
    return synced && closed;
}

int FileReplace(const char* from, const char* to) {
    // The new file takes the place of the old one as the user left it: its permissions.
    struct stat old;
    if (stat(to, &old) == 0 && chmod(from, old.st_mode & 07777) != 0)
        return Failed(0);
    if (rename(from, to) != 0)
        return Failed(0);
    SyncFolderOf(to);
    return 1;
}

int FileDelete(const char* path) {
    return unlink(path) == 0 || errno == ENOENT || errno == ENOTDIR || Failed(0);
}

int FileModifiedTime(const char* path, uint64_t* milliseconds) {
    struct stat st;
    if (stat(path, &st) != 0)
        return 0;
    *milliseconds = static_cast<uint64_t>(st.st_mtim.tv_sec) * 1000 +
                    static_cast<uint64_t>(st.st_mtim.tv_nsec) / 1000000;
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
    return Writable(st) ? kPathFile : kPathReadOnly;
}

uint32_t FileLastError() {
    return static_cast<uint32_t>(lastError);
}

std::string FileErrorText(uint32_t error) {
    return strerror(static_cast<int>(error));
}

// Names are bytes here, whatever their encoding.
std::string FileNameFromSystemText(const char* text) {
    return text;
}

// A console program has no dialog: nothing is chosen.
void FileDialog(int save, const char* filter, const char* defaultExtension, char* name,
                uint32_t capacity) {
    if (capacity)
        name[0] = '\0';
}

}  // namespace platform
