#include "platform/win32/report.h"

#include <mmsystem.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace platform {
namespace win32 {

namespace {

// The program's file name, so that the reports of several programs on one channel can be told
// apart.
const char* ProgramName() {
    static char name[MAX_PATH] = "";
    if (!name[0]) {
        char path[MAX_PATH];
        DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
        const char* base = path;
        for (DWORD i = 0; i < length && i < sizeof path; ++i)
            if (path[i] == '\\' || path[i] == '/')
                base = path + i + 1;
        snprintf(name, sizeof name, "%s", length ? base : "program");
    }
    return name;
}

void Send(const char* call, const char* detail, va_list arguments, const char* reason) {
    char asked[512] = "";
    if (detail)
        vsnprintf(asked, sizeof asked, detail, arguments);
    char line[1024];
    snprintf(line, sizeof line, "%s: %s(%s) failed: %s\n", ProgramName(), call, asked, reason);
    OutputDebugStringA(line);
}

// The system's text for an error, on one line, with its number.
void ErrorText(DWORD error, char* text, size_t capacity) {
    char message[256] = "";
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, message, sizeof message, nullptr);
    while (length && (message[length - 1] == '\r' || message[length - 1] == '\n' ||
                      message[length - 1] == ' ' || message[length - 1] == '.'))
        message[--length] = '\0';
    snprintf(text, capacity, "error %lu (%s)", static_cast<unsigned long>(error),
             length ? message : "no text for it");
}

}  // namespace

namespace {

void ReportError(const char* call, DWORD error, const char* detail, va_list arguments) {
    char reason[320];
    ErrorText(error, reason, sizeof reason);
    Send(call, detail, arguments, reason);
    SetLastError(error);
}

}  // namespace

void ReportFailure(const char* call, DWORD error, const char* detail, ...) {
    va_list arguments;
    va_start(arguments, detail);
    ReportError(call, error, detail, arguments);
    va_end(arguments);
}

DWORD ReportLastError(const char* call, const char* detail, ...) {
    DWORD error = GetLastError();
    va_list arguments;
    va_start(arguments, detail);
    ReportError(call, error, detail, arguments);
    va_end(arguments);
    return error;
}

void ReportText(const char* text) {
    DWORD error = GetLastError();
    char line[1024];
    snprintf(line, sizeof line, "%s: %s\n", ProgramName(), text);
    OutputDebugStringA(line);
    SetLastError(error);
}

void ReportWaveFailure(const char* call, unsigned result, const char* detail, ...) {
    DWORD error = GetLastError();
    char text[MAXERRORLENGTH] = "";
    // The input and output texts share their codes for everything a call here can answer.
    if (waveOutGetErrorTextA(result, text, sizeof text) != MMSYSERR_NOERROR)
        text[0] = '\0';
    char reason[320];
    snprintf(reason, sizeof reason, "result %u (%s)", result, text[0] ? text : "no text for it");
    va_list arguments;
    va_start(arguments, detail);
    Send(call, detail, arguments, reason);
    va_end(arguments);
    SetLastError(error);
}

}  // namespace win32
}  // namespace platform
