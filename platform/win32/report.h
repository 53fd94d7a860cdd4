// One channel for Win32 calls that failed: the program refuses silently toward the user, so the
// reason goes to a debugger that listens (OutputDebugStringA: DebugView on Windows,
// WINEDEBUG=+debugstr under Wine) and nowhere else. A report names the call, the arguments that
// matter and the error as text; it never carries the user's input (no key, character, position
// or file content). Nothing is written to disk, and a report leaves the thread's last error as
// it found it.
#pragma once

#include <windows.h>

namespace platform {
namespace win32 {

// `detail` (printf-style, may be null) says what the call was asked to do.
void ReportFailure(const char* call, DWORD error, const char* detail, ...)
    __attribute__((format(printf, 3, 4)));

// For calls that set the thread's last error: reports it and returns it.
DWORD ReportLastError(const char* call, const char* detail, ...)
    __attribute__((format(printf, 2, 3)));

// A line of the program's own: what it could not do, where no single call is to blame.
void ReportText(const char* text);

// For the wave calls, which answer with a result code of their own.
void ReportWaveFailure(const char* call, unsigned result, const char* detail, ...)
    __attribute__((format(printf, 3, 4)));

}  // namespace win32
}  // namespace platform
