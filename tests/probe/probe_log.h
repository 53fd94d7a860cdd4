// What the probes share: their common options, the clock their log counts from, the log itself
// (lines written and flushed as they happen, the ready line first) and the quit file.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace probe {

struct Options {
    const char* logPath;
    int x, y, width, height;
    double timeoutSeconds;  // 0: never
    const char* title;
};

// A program's own option: false when it is not one, or its value is wrong.
typedef bool (*ExtraOption)(const char* arg, const char* value);

// --log PATH, --pos X,Y, --size WxH, --timeout SECONDS, --title TEXT, and `extra`'s (may be null).
inline bool ParseOptions(int argc, char** argv, Options* options, ExtraOption extra) {
    for (int i = 1; i < argc; i += 2) {
        const char* arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (!value)
            return false;
        if (!strcmp(arg, "--log")) {
            options->logPath = value;
        } else if (!strcmp(arg, "--pos")) {
            if (sscanf(value, "%d,%d", &options->x, &options->y) != 2)
                return false;
        } else if (!strcmp(arg, "--size")) {
            if (sscanf(value, "%dx%d", &options->width, &options->height) != 2)
                return false;
        } else if (!strcmp(arg, "--timeout")) {
            options->timeoutSeconds = atof(value);
        } else if (!strcmp(arg, "--title")) {
            options->title = value;
        } else if (!extra || !extra(arg, value)) {
            return false;
        }
    }
    return true;
}

inline LARGE_INTEGER start, frequency;

inline void StartClock() {
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
}

inline unsigned long long Microseconds() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    unsigned long long ticks = static_cast<unsigned long long>(now.QuadPart - start.QuadPart);
    unsigned long long f = static_cast<unsigned long long>(frequency.QuadPart);
    return ticks / f * 1000000ULL + ticks % f * 1000000ULL / f;
}

inline bool TimedOut(const Options& options) {
    return options.timeoutSeconds > 0 &&
           static_cast<double>(Microseconds()) >= options.timeoutSeconds * 1e6;
}

inline HANDLE logFile = INVALID_HANDLE_VALUE;
inline char quitPath[MAX_PATH + 8];
// Lines that come while the window is being shown wait here until the ready line is out, so
// that tests can take the ready line as the log's first.
inline char heldBack[4096];
inline size_t heldBackLength = 0;
inline bool ready = false, stopped = false;

// Creates the log afresh and removes a stale quit file; false when the log cannot be made.
inline bool OpenLog(const char* path) {
    logFile =
        CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    snprintf(quitPath, sizeof quitPath, "%s.quit", path);
    DeleteFileA(quitPath);
    return logFile != INVALID_HANDLE_VALUE;
}

inline bool QuitFileFound() {
    return GetFileAttributesA(quitPath) != INVALID_FILE_ATTRIBUTES;
}

inline void WriteRaw(const char* text, size_t length) {
    DWORD written = 0;
    WriteFile(logFile, text, static_cast<DWORD>(length), &written, nullptr);
}

inline void WriteLine(const char* text) {
    if (stopped)
        return;
    size_t length = strlen(text);
    if (!ready) {
        if (heldBackLength + length <= sizeof heldBack) {
            memcpy(heldBack + heldBackLength, text, length);
            heldBackLength += length;
        }
        return;
    }
    WriteRaw(text, length);
}

inline void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));
inline void Log(const char* format, ...) {
    char line[512];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    WriteLine(line);
}

inline void WriteReady(const char* text) {
    WriteRaw(text, strlen(text));
    WriteRaw(heldBack, heldBackLength);
    ready = true;
}

// After the quit line: nothing more is written.
inline void StopLogging() {
    stopped = true;
}

// The window's messages until it quits; the program's exit code.
inline int RunUntilQuit() {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    CloseHandle(logFile);
    return 0;
}

}  // namespace probe
