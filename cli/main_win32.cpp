// qvjournal's console entry point on Windows. The arguments come from the wide command line as
// UTF-8, the encoding of names inside the tool, so that a name in any script is the file the user
// meant. Text for a console goes out through WriteConsoleW, which shows every script the
// console's font has; output redirected to a file or a pipe gets the UTF-8 bytes as they are.
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/journal_tool.h"
#include "platform/win32/text.h"

namespace {

// The tool's stream to a console: a pipe whose bytes a thread of its own shows there.
struct ConsoleStream {
    HANDLE console = nullptr;
    HANDLE pipe = nullptr;  // the end the thread reads
    HANDLE thread = nullptr;
    FILE* file = nullptr;
};

// The length of the UTF-8 sequence at `p`, with `left` bytes there; 0 when it is none.
size_t SequenceLength(const unsigned char* p, size_t left) {
    unsigned char lead = p[0];
    size_t length = lead < 0x80             ? 1
                    : (lead & 0xE0) == 0xC0 ? 2
                    : (lead & 0xF0) == 0xE0 ? 3
                    : (lead & 0xF8) == 0xF0 ? 4
                                            : 0;
    if (length == 0 || length > left)
        return 0;
    for (size_t i = 1; i < length; ++i)
        if ((p[i] & 0xC0) != 0x80)
            return 0;
    return length;
}

void Write(HANDLE console, const char* bytes, size_t length, UINT codePage) {
    if (!length)
        return;
    int size = static_cast<int>(length);
    int units = MultiByteToWideChar(codePage, 0, bytes, size, nullptr, 0);
    if (units <= 0)
        return;
    std::wstring wide(static_cast<size_t>(units), L'\0');
    MultiByteToWideChar(codePage, 0, bytes, size, &wide[0], units);
    DWORD written = 0;
    WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
}

// Shows UTF-8 text. Bytes that are not UTF-8 (a window's name in the recording system's code
// page) are shown as characters of the system's code page.
void Show(HANDLE console, const std::string& text) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text.data());
    size_t start = 0, at = 0;
    bool utf8 = true;
    while (at <= text.size()) {
        size_t length = at < text.size() ? SequenceLength(bytes + at, text.size() - at) : 0;
        if (at == text.size() || (length != 0) != utf8) {
            Write(console, text.data() + start, at - start, utf8 ? CP_UTF8 : CP_ACP);
            start = at;
            utf8 = !utf8;
        }
        if (at == text.size())
            break;
        at += length ? length : 1;
    }
}

// Where the last whole UTF-8 sequence ends: the rest may be the start of one that the next read
// completes.
size_t WholeLength(const std::string& text) {
    size_t size = text.size();
    for (size_t back = 1; back <= 3 && back <= size; ++back) {
        unsigned char c = static_cast<unsigned char>(text[size - back]);
        if ((c & 0xC0) == 0x80)
            continue;  // a continuation byte: look further back for its lead
        size_t needed = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        return needed > back ? size - back : size;
    }
    return size;
}

DWORD WINAPI Pump(void* context) {
    ConsoleStream* stream = static_cast<ConsoleStream*>(context);
    std::string pending;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(stream->pipe, buffer, sizeof buffer, &read, nullptr) && read) {
        pending.append(buffer, read);
        size_t whole = WholeLength(pending);
        Show(stream->console, pending.substr(0, whole));
        pending.erase(0, whole);
    }
    Show(stream->console, pending);
    return 0;
}

bool IsConsole(DWORD which) {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(which), &mode) != 0;
}

// A stream to the console of `which`; null when that is no console, or the stream could not be
// made.
FILE* OpenConsoleStream(DWORD which, ConsoleStream* stream) {
    if (!IsConsole(which))
        return nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&stream->pipe, &writeEnd, nullptr, 0))
        return nullptr;
    stream->console = GetStdHandle(which);
    // Text mode, as the standard streams are; unbuffered, so that what the tool says shows at
    // once and in order.
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(writeEnd), _O_WRONLY | _O_TEXT);
    stream->file = fd < 0 ? nullptr : _fdopen(fd, "w");
    if (stream->file) {
        setvbuf(stream->file, nullptr, _IONBF, 0);
        stream->thread = CreateThread(nullptr, 0, Pump, stream, 0, nullptr);
    }
    if (stream->thread)
        return stream->file;
    if (stream->file)
        fclose(stream->file);
    else if (fd >= 0)
        _close(fd);
    else
        CloseHandle(writeEnd);
    CloseHandle(stream->pipe);
    *stream = ConsoleStream();
    return nullptr;
}

// Ends the stream once the thread has shown all it was given.
void CloseConsoleStream(ConsoleStream* stream) {
    if (!stream->thread)
        return;
    fclose(stream->file);
    WaitForSingleObject(stream->thread, INFINITE);
    CloseHandle(stream->thread);
    CloseHandle(stream->pipe);
}

}  // namespace

int main() {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) {
        fputs("qvjournal: the command line could not be read\n", stderr);
        return 2;
    }
    std::vector<std::string> words;
    for (int i = 0; i < count; ++i)
        words.push_back(platform::win32::Utf8(wide[i]));
    LocalFree(wide);
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(&word[0]);
    argv.push_back(nullptr);

    // Both on one console: one stream keeps what the tool says in the order it said it.
    ConsoleStream outStream, errStream;
    FILE* out = OpenConsoleStream(STD_OUTPUT_HANDLE, &outStream);
    FILE* err =
        out && IsConsole(STD_ERROR_HANDLE) ? out : OpenConsoleStream(STD_ERROR_HANDLE, &errStream);
    int code = RunJournalTool(count, argv.data(), out ? out : stdout, err ? err : stderr);
    CloseConsoleStream(&errStream);
    CloseConsoleStream(&outStream);
    return code;
}
