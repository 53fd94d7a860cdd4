#include "storage/file_buffer.h"

#include <string.h>

#include "platform/file.h"

namespace {

// Appended to a save's target to name the temporary beside it.
const char kTempSuffix[] = ".part~";

const uint64_t kOffsetLimit = uint64_t(1) << 32;  // file offsets are 32-bit

}  // namespace

FileBuffer::FileBuffer()
    : name(new char[kNameCapacity]()),
      file(nullptr),
      readWindow(new uint8_t[kWindowSize]()),
      readStart(0),
      readCount(0),
      writeWindow(new uint8_t[kWindowSize]()),
      writeStart(0),
      writeLength(0),
      clean(1),
      target(nullptr),
      tempName(new char[kNameCapacity]()),
      targetCreated(0),
      storeFailed(0) {}

FileBuffer::~FileBuffer() {
    if (IsOpen())
        Abandon();
    delete[] tempName;
    delete[] writeWindow;
    delete[] readWindow;
    delete[] name;
}

int32_t FileBuffer::Open(int32_t mode, const char* nameOrFilter, int32_t nameGiven) {
    if (IsOpen())
        Close();
    const char* path = nameGiven ? nameOrFilter : ChooseFile(mode, nameOrFilter);
    OpenByName(mode, path);
    return IsOpen();
}

const char* FileBuffer::ChooseFile(int32_t mode, const char* filter) {
    name[0] = '\0';
    // The default extension is the first pattern without its "*.".
    const char* extension = "";
    if (filter && filter[0]) {
        const char* pattern = filter + strlen(filter) + 1;
        if (pattern[0] && pattern[1])
            extension = pattern + 2;
    }
    platform::FileDialog(mode != 1, filter, extension, name, kNameCapacity);
    name[kNameCapacity - 1] = '\0';
    return name;
}

void FileBuffer::OpenByName(int32_t mode, const char* path) {
    if (!path || !path[0])
        return;
    if (IsOpen())
        Close();
    size_t length = strnlen(path, kNameCapacity);
    if (length >= kNameCapacity) {
        // Never truncated: a shortened path would name some other file.
        name[0] = '\0';
        file = platform::kInvalidFile;
        return;
    }
    if (path != name)
        memmove(name, path, length + 1);
    clean = 1;
    storeFailed = 0;
    if (mode == 1) {
        file = platform::FileOpenExisting(name);
        return;
    }

    file = platform::kInvalidFile;
    if (length + sizeof kTempSuffix > kNameCapacity)
        return;
    memcpy(tempName, name, length);
    memcpy(tempName + length, kTempSuffix, sizeof kTempSuffix);
    // Taking the target first refuses read-only and in-use targets, and keeps others away from
    // both files until the save is over.
    int created = 0;
    platform::FileHandle lock = platform::FileOpenAlways(name, &created);
    if (lock == platform::kInvalidFile)
        return;
    file = platform::FileCreate(tempName);
    if (file == platform::kInvalidFile) {
        platform::FileClose(lock);
        if (created)
            platform::FileDelete(name);
        return;
    }
    target = lock;
    targetCreated = created;
}

int32_t FileBuffer::IsOpen() const {
    return file != nullptr && file != platform::kInvalidFile;
}

const uint8_t* FileBuffer::ReadAt(uint32_t length, int32_t offset) {
    uint64_t start = offset < 0 ? uint64_t(readStart) + readCount : uint64_t(offset);
    if (!IsOpen() || length > kWindowSize || start + length > kOffsetLimit)
        return nullptr;
    if (start < readStart || uint64_t(readStart) + readCount < start + length) {
        // Reload so the window begins exactly at this read: a read is never split.
        uint32_t done = 0;
        readStart = uint32_t(start);
        int read = platform::FileReadAt(file, readStart, readWindow, kWindowSize, &done) &&
                   done <= kWindowSize;
        if (!read)
            done = 0;
        readCount = done;
        memset(readWindow + done, 0, kWindowSize - done);
        // Zeros in place of bytes that could not be read would pass for file content.
        if (!read)
            return nullptr;
    }
    return readWindow + (start - readStart);
}

int32_t FileBuffer::WriteAt(const void* data, uint32_t length, int32_t offset) {
    uint64_t start = offset < 0 ? uint64_t(writeStart) + writeLength : uint64_t(offset);
    if (!IsOpen() || length > kWindowSize || start + length > kOffsetLimit)
        return 0;
    if (start < writeStart || uint64_t(writeStart) + kWindowSize < start + length) {
        // Moving would drop the window's bytes unless they are stored first.
        if (!clean && writeLength != 0 && !Flush())
            return 0;
        memset(writeWindow, 0, kWindowSize);
        writeStart = uint32_t(start);
        writeLength = 0;
    }
    uint32_t at = uint32_t(start - writeStart);
    if (length)
        memcpy(writeWindow + at, data, length);
    clean = 0;
    // An overwrite inside the window must not cut off bytes already taken beyond it.
    if (at + length > writeLength)
        writeLength = at + length;
    return 1;
}

int32_t FileBuffer::Flush() {
    if (!IsOpen() || writeLength == 0)
        return 0;
    uint32_t done = 0;
    if (!platform::FileWriteAt(file, writeStart, writeWindow, writeLength, &done) ||
        done != writeLength) {
        // The window keeps its bytes; the open's outcome is spoilt for good.
        storeFailed = 1;
        return 0;
    }
    clean = 1;
    return 1;
}

int32_t FileBuffer::Close() {
    int32_t stored = 1;
    if (IsOpen()) {
        if (!clean && writeLength != 0)
            Flush();
        stored = !storeFailed;
        if (!platform::FileClose(file))
            stored = 0;
        file = nullptr;
        if (target) {
            platform::FileClose(target);
            target = nullptr;
            if (stored)
                stored = platform::FileReplace(tempName, name);
            if (!stored) {
                platform::FileDelete(tempName);
                if (targetCreated)
                    platform::FileDelete(name);
            }
        }
    }
    memset(writeWindow, 0, kWindowSize);
    readStart = 0;
    readCount = 0;
    writeStart = 0;
    writeLength = 0;
    clean = 1;
    targetCreated = 0;
    storeFailed = 0;
    return stored;
}

void FileBuffer::Abandon() {
    platform::FileClose(file);
    file = nullptr;
    if (target) {
        platform::FileClose(target);
        target = nullptr;
        platform::FileDelete(tempName);
        if (targetCreated)
            platform::FileDelete(name);
    }
}

uint32_t FileBuffer::GetSize() const {
    return IsOpen() ? platform::FileGetSize(file) : 0;
}

const char* FileBuffer::GetFileName() const {
    return name;
}
