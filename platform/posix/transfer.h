// Whole transfers at an offset of a POSIX file: pread and pwrite may move less than asked, or
// be interrupted by a signal, and go on from where they stopped.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace platform {
namespace posix {

// Reads `length` bytes, or up to the end of the file; `done` says how many. False on an error.
inline bool ReadFully(int fd, uint32_t offset, void* data, uint32_t length, uint32_t* done) {
    uint32_t total = 0;
    while (total < length) {
        ssize_t n = pread(fd, static_cast<char*>(data) + total, length - total,
                          static_cast<off_t>(offset) + total);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        total += static_cast<uint32_t>(n);
    }
    *done = total;
    return true;
}

// Writes all `length` bytes; `done` says how many were stored, also when it fails.
inline bool WriteFully(int fd, uint32_t offset, const void* data, uint32_t length, uint32_t* done) {
    uint32_t total = 0;
    bool whole = true;
    while (total < length) {
        ssize_t n = pwrite(fd, static_cast<const char*>(data) + total, length - total,
                           static_cast<off_t>(offset) + total);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            whole = false;
            break;
        }
        total += static_cast<uint32_t>(n);
    }
    *done = total;
    return whole;
}

}  // namespace posix
}  // namespace platform
