#include "storage/file_buffer.h"

#include <cstdio>
#include <cstring>

#include "platform/file.h"

namespace {

// A save's temporary is named after its target: "<target>.part~", or "<target>.N.part~" when a
// file of that name is there already (it is never touched), N up to kMaxTempNumber.
const char kTempSuffix[] = ".part~";
const int kMaxTempNumber = 99;
const size_t kLongestTempSuffix = sizeof ".99.part~" - 1;

const uint64_t kOffsetLimit = uint64_t(1) << 32;  // file offsets are 32-bit
// Reads take signed 32-bit offsets: a larger file cannot be read whole, and its size would not
// even fit the 32 bits that its owners compare.
const uint64_t kLargestReadable = (uint64_t(1) << 31) - 1;

const char kTooLong[] = "its name is too long";

}  // namespace

FileBuffer::FileBuffer()
    : name(std::make_unique<char[]>(kNameCapacity)),
      file(nullptr),
      readWindow(std::make_unique<uint8_t[]>(kWindowSize)),
      readStart(0),
      readCount(0),
      writeWindow(std::make_unique<uint8_t[]>(kWindowSize)),
      writeStart(0),
      writeLength(0),
      clean(true),
      target(nullptr),
      tempName(std::make_unique<char[]>(kNameCapacity)),
      saving(false),
      storeFailed(false),
      error(0),
      refusal(nullptr) {}

FileBuffer::~FileBuffer() {
    if (IsOpen())
        Abandon();
}

bool FileBuffer::Open(FileMode mode, const char* nameOrFilter, bool nameGiven) {
    if (IsOpen())
        Close();
    const char* path = nameGiven ? nameOrFilter : ChooseFile(mode, nameOrFilter);
    OpenByName(mode, path);
    return IsOpen();
}

const char* FileBuffer::ChooseFile(FileMode mode, const char* filter) {
    name[0] = '\0';
    // The default extension is the first pattern without its "*.".
    const char* extension = "";
    if (filter && filter[0]) {
        const char* pattern = filter + strlen(filter) + 1;
        if (pattern[0] && pattern[1])
            extension = pattern + 2;
    }
    platform::FileDialog(mode == FileMode::Saving, filter, extension, name.get(), kNameCapacity);
    name[kNameCapacity - 1] = '\0';
    return name.get();
}

void FileBuffer::OpenByName(FileMode mode, const char* path) {
    error = 0;
    refusal = nullptr;
    if (!path || !path[0])
        return;
    if (IsOpen())
        Close();
    error = 0;
    size_t length = strnlen(path, kNameCapacity);
    if (length >= kNameCapacity) {
        // Never truncated: a shortened path would name some other file.
        name[0] = '\0';
        refusal = kTooLong;
        file = platform::kInvalidFile;
        return;
    }
    if (path != name.get())
        memmove(name.get(), path, length + 1);
    clean = true;
    storeFailed = false;
    if (mode == FileMode::Reading) {
        file = platform::FileOpenExisting(name.get());
        if (!IsOpen())
            NoteError();
        if (IsOpen() && platform::FileGetSize(file) > kLargestReadable) {
            refusal = "it is larger than the 2 GiB a file may have here";
            platform::FileClose(file);
            file = platform::kInvalidFile;
        }
        return;
    }

    file = platform::kInvalidFile;
    if (length + kLongestTempSuffix >= kNameCapacity) {
        refusal = kTooLong;
        return;
    }
    // Taking an existing target first refuses read-only targets and those that others go on
    // writing, and keeps other writers away until the save is over. A missing one is not created: a
    // save that fails leaves nothing behind.
    int missing = 0;
    platform::FileHandle lock = platform::FileLockExisting(name.get(), &missing);
    if (lock == platform::kInvalidFile && !missing) {
        NoteError();
        return;
    }
    memcpy(tempName.get(), name.get(), length);
    for (int number = 0; number <= kMaxTempNumber && file == platform::kInvalidFile; number++) {
        if (number == 0)
            memcpy(tempName.get() + length, kTempSuffix, sizeof kTempSuffix);
        else
            snprintf(tempName.get() + length, kLongestTempSuffix + 1, ".%d%s", number, kTempSuffix);
        int exists = 0;
        file = platform::FileCreateNew(tempName.get(), &exists);
        if (file == platform::kInvalidFile && !exists)
            break;
    }
    if (file == platform::kInvalidFile) {
        NoteError();
        if (lock != platform::kInvalidFile)
            platform::FileClose(lock);
        return;
    }
    target = lock;
    saving = true;
}

bool FileBuffer::IsOpen() const {
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
        int read = platform::FileReadAt(file, readStart, readWindow.get(), kWindowSize, &done) &&
                   done <= kWindowSize;
        if (!read) {
            NoteError();
            done = 0;
        }
        readCount = done;
        memset(readWindow.get() + done, 0, kWindowSize - done);
        // Zeros in place of bytes that could not be read would pass for file content.
        if (!read)
            return nullptr;
    }
    return readWindow.get() + (start - readStart);
}

bool FileBuffer::WriteAt(const void* data, uint32_t length, int32_t offset) {
    uint64_t start = offset < 0 ? uint64_t(writeStart) + writeLength : uint64_t(offset);
    if (!IsOpen())
        return false;
    if (length > kWindowSize || start + length > kOffsetLimit) {
        // The caller's bytes will be missing from the file: a save must not replace its target.
        storeFailed = true;
        return false;
    }
    if (start < writeStart || uint64_t(writeStart) + kWindowSize < start + length) {
        // Moving would drop the window's bytes unless they are stored first.
        if (!clean && writeLength != 0 && !Flush())
            return false;
        memset(writeWindow.get(), 0, kWindowSize);
        writeStart = uint32_t(start);
        writeLength = 0;
    }
    uint32_t at = uint32_t(start - writeStart);
    if (length)
        memcpy(writeWindow.get() + at, data, length);
    clean = false;
    // An overwrite inside the window must not cut off bytes already taken beyond it.
    if (at + length > writeLength)
        writeLength = at + length;
    return true;
}

bool FileBuffer::Flush() {
    if (!IsOpen() || writeLength == 0)
        return false;
    uint32_t done = 0;
    int written = platform::FileWriteAt(file, writeStart, writeWindow.get(), writeLength, &done);
    if (!written || done != writeLength) {
        // The window keeps its bytes; the open's outcome is spoilt for good. A short transfer
        // that the system called a success has no error to tell.
        if (!written)
            NoteError();
        storeFailed = true;
        return false;
    }
    clean = true;
    return true;
}

bool FileBuffer::Close() {
    bool stored = true;
    if (IsOpen()) {
        if (!clean && writeLength != 0)
            Flush();
        stored = !storeFailed;
        if (!platform::FileClose(file)) {
            NoteError();
            stored = false;
        }
        file = nullptr;
        if (saving)
            stored = Commit(stored);
    }
    memset(writeWindow.get(), 0, kWindowSize);
    readStart = 0;
    readCount = 0;
    writeStart = 0;
    writeLength = 0;
    clean = true;
    storeFailed = false;
    return stored;
}

bool FileBuffer::Commit(bool stored) {
    if (target != nullptr && target != platform::kInvalidFile)
        platform::FileClose(target);
    target = nullptr;
    saving = false;
    if (stored && platform::FileReplace(tempName.get(), name.get()))
        return true;
    if (stored)
        NoteError();
    platform::FileDelete(tempName.get());
    return false;
}

void FileBuffer::Abandon() {
    platform::FileClose(file);
    file = nullptr;
    if (saving)
        Commit(false);
}

uint32_t FileBuffer::GetSize() const {
    // Files open for reading are below 2 GiB, and a save's temporary below 4 GiB.
    return IsOpen() ? static_cast<uint32_t>(platform::FileGetSize(file)) : 0;
}

const char* FileBuffer::GetFileName() const {
    return name.get();
}

void FileBuffer::NoteError() {
    if (!error)
        error = platform::FileLastError();
}

bool FileBuffer::Failed(FileFailure* failure, const std::string& why) const {
    *failure = FileFailure();
    failure->failed = name[0] != '\0' || refusal;
    if (failure->failed) {
        failure->name = name.get();
        failure->systemError = why.empty() ? error : 0;
        failure->why = !why.empty() || error || !refusal ? why : std::string(refusal);
    }
    return false;
}

bool FileBuffer::Remove(const char* path) {
    return platform::FileDelete(path) != 0;
}

bool FileBuffer::GetModifiedTime(const char* path, uint64_t* milliseconds) {
    return platform::FileModifiedTime(path, milliseconds) != 0;
}
