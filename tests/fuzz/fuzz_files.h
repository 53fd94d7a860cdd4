// File helpers shared by the fuzz targets: a private scratch folder (in memory when /dev/shm is
// there, since every input goes through the disk) and whole-file reads and writes.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace fuzz {

typedef std::vector<uint8_t> Bytes;

// Stops the run with a message: libFuzzer saves the input that caused it.
[[noreturn]] inline void Fail(const char* what) {
    fprintf(stderr, "invariant broken: %s\n", what);
    abort();
}

inline void Check(bool condition, const char* what) {
    if (!condition)
        Fail(what);
}

// A fresh folder for this process, removed at exit.
inline const std::string& ScratchFolder() {
    static std::string folder = [] {
        const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string pattern = std::string(base) + "/qv-fuzz-XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (!mkdtemp(name.data()))
            Fail("cannot make a scratch folder");
        std::string made(name.data());
        static std::string removal = "rm -rf '" + made + "'";
        atexit([] {
            if (system(removal.c_str()) != 0) {
            }
        });
        return made;
    }();
    return folder;
}

inline std::string ScratchPath(const char* leaf) {
    return ScratchFolder() + "/" + leaf;
}

inline void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        Fail("cannot write an input file");
    size_t done = 0;
    while (done < size) {
        ssize_t n = write(fd, data + done, size - done);
        if (n <= 0)
            Fail("cannot write an input file");
        done += static_cast<size_t>(n);
    }
    close(fd);
}

// The file's bytes; `exists` tells a missing file from an empty one.
inline Bytes ReadFile(const std::string& path, bool* exists = nullptr) {
    Bytes bytes;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (exists)
        *exists = fd >= 0;
    if (fd < 0)
        return bytes;
    uint8_t chunk[65536];
    for (;;) {
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n <= 0)
            break;
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    close(fd);
    return bytes;
}

}  // namespace fuzz
