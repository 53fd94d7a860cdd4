// Win32 file service: CreateFileW handles that let others read, positioned transfers and the
// common open/save dialogs. Paths come as UTF-8 and go to the wide-character calls, so that a name
// outside the system's code page is the file the user meant. Calls that another program's handle
// can refuse for a moment are tried again.
#include <windows.h>
#include <commdlg.h>

#include <cstring>

#include "platform/file.h"
#include "platform/win32/report.h"
#include "platform/win32/scoped.h"
#include "platform/win32/text.h"

namespace platform {

namespace {

// About two seconds in all, most of it in the last waits: virus scanners and indexers open a
// file they have just seen for a moment. A refused call changes nothing, so it can be tried
// again.
const DWORD kWaits[] = {10, 20, 40, 80, 150, 300, 500, 900};
const size_t kRetries = sizeof kWaits / sizeof kWaits[0];

DWORD lastError = 0;

// Notes the error of a call that failed, and leaves it as the thread's last error too.
DWORD Failed(DWORD error) {
    lastError = error;
    SetLastError(error);
    return error;
}

// The path for the wide calls; a path that is not UTF-8 names no file.
bool WidePath(const char* path, std::wstring* wide) {
    if (win32::ToWide(path, wide))
        return true;
    Failed(ERROR_INVALID_NAME);
    return false;
}

// Errors that another program's handle causes while it holds the file.
bool HeldElsewhere(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

// Others may go on reading (a scanner, an indexer), never writing, while the handle is open.
// A new file is ours alone until it is complete.
HANDLE Open(const char* path, DWORD disposition) {
    DWORD share = disposition == CREATE_NEW ? 0 : FILE_SHARE_READ;
    std::wstring wide;
    if (!WidePath(path, &wide))
        return INVALID_HANDLE_VALUE;
    for (size_t attempt = 0;; ++attempt) {
        HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr,
                               disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE)
            return h;
        DWORD error = Failed(GetLastError());
        if (attempt < kRetries && HeldElsewhere(error)) {
            Sleep(kWaits[attempt]);
            continue;
        }
        // A name already taken is how a save finds a free temporary name: an answer, not a fault.
        if (!(disposition == CREATE_NEW &&
              (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)))
            win32::ReportFailure("CreateFileW", error, "\"%s\", %s, after %u attempts", path,
                                 disposition == CREATE_NEW ? "CREATE_NEW" : "OPEN_EXISTING",
                                 static_cast<unsigned>(attempt + 1));
        return h;  // INVALID_HANDLE_VALUE is kInvalidFile; the error stays readable
    }
}

// The high part is passed explicitly, so offsets up to 4 GiB are taken as unsigned.
int Seek(HANDLE h, uint32_t offset) {
    LONG high = 0;
    DWORD low = SetFilePointer(h, static_cast<LONG>(offset), &high, FILE_BEGIN);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) {
        Failed(win32::ReportLastError("SetFilePointer", "offset %lu",
                                      static_cast<unsigned long>(offset)));
        return 0;
    }
    return 1;
}

HANDLE Usable(FileHandle file) {
    return file == kInvalidFile ? nullptr : static_cast<HANDLE>(file);
}

}  // namespace

FileHandle FileOpenExisting(const char* path) {
    return Open(path, OPEN_EXISTING);
}

FileHandle FileLockExisting(const char* path, int* missing) {
    HANDLE h = Open(path, OPEN_EXISTING);
    *missing = h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND;
    return h;
}

FileHandle FileCreateNew(const char* path, int* exists) {
    HANDLE h = Open(path, CREATE_NEW);
    DWORD error = GetLastError();
    *exists =
        h == INVALID_HANDLE_VALUE && (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS);
    return h;
}

int FileReadAt(FileHandle file, uint32_t offset, void* data, uint32_t length, uint32_t* done) {
    HANDLE h = Usable(file);
    DWORD n = 0;
    *done = 0;
    if (!h || !Seek(h, offset))
        return 0;
    if (!ReadFile(h, data, length, &n, nullptr)) {
        Failed(win32::ReportLastError("ReadFile", "%lu bytes at %lu",
                                      static_cast<unsigned long>(length),
                                      static_cast<unsigned long>(offset)));
        return 0;
    }
    *done = n;
    return 1;
}

int FileWriteAt(FileHandle file, uint32_t offset, const void* data, uint32_t length,
                uint32_t* done) {
    HANDLE h = Usable(file);
    DWORD n = 0;
    *done = 0;
    if (!h || !Seek(h, offset))
        return 0;
    if (!WriteFile(h, data, length, &n, nullptr)) {
        Failed(win32::ReportLastError("WriteFile", "%lu bytes at %lu",
                                      static_cast<unsigned long>(length),
                                      static_cast<unsigned long>(offset)));
        return 0;
    }
    *done = n;
    return 1;
}

uint64_t FileGetSize(FileHandle file) {
    HANDLE h = Usable(file);
    if (!h)
        return 0;
    DWORD high = 0;
    SetLastError(NO_ERROR);
    DWORD low = GetFileSize(h, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
        win32::ReportLastError("GetFileSize", nullptr);
        return 0;
    }
    return static_cast<uint64_t>(high) << 32 | low;
}

int FileClose(FileHandle file) {
    HANDLE h = Usable(file);
    if (!h)
        return 0;
    // Reach the disk before a save's temporary replaces its target; a late write error shows
    // up here rather than never.
    int flushed = FlushFileBuffers(h) != 0;
    DWORD error = flushed ? NO_ERROR : win32::ReportLastError("FlushFileBuffers", nullptr);
    int closed = CloseHandle(h) != 0;
    if (!closed)
        error = win32::ReportLastError("CloseHandle", "a file");
    if (error != NO_ERROR)
        Failed(error);
    return flushed && closed;
}

// A holder that does not let others rename or delete the file makes a move report a denied
// access besides the errors of an open.
bool Transient(DWORD error) {
    return HeldElsewhere(error) || error == ERROR_ACCESS_DENIED;
}

int FileReplace(const char* from, const char* to) {
    // The new file takes the place of the old one as the user left it: hidden, say.
    const DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                        FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    std::wstring source, target;
    if (!WidePath(from, &source) || !WidePath(to, &target))
        return 0;
    DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & kKept))
        SetFileAttributesW(source.c_str(), attributes & kKept);
    for (size_t attempt = 0;; ++attempt) {
        if (MoveFileExW(source.c_str(), target.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return 1;
        if (attempt == kRetries || !Transient(GetLastError())) {
            Failed(win32::ReportLastError("MoveFileExW", "\"%s\" to \"%s\", after %u attempts",
                                          from, to, static_cast<unsigned>(attempt + 1)));
            return 0;
        }
        Sleep(kWaits[attempt]);
    }
}

int FileDelete(const char* path) {
    std::wstring wide;
    if (!WidePath(path, &wide))
        return 0;
    for (size_t attempt = 0;; ++attempt) {
        if (DeleteFileW(wide.c_str()))
            return 1;
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return 1;
        if (attempt == kRetries || !HeldElsewhere(error)) {
            win32::ReportFailure("DeleteFileW", Failed(error), "\"%s\", after %u attempts", path,
                                 static_cast<unsigned>(attempt + 1));
            return 0;
        }
        Sleep(kWaits[attempt]);
    }
}

int FileModifiedTime(const char* path, uint64_t* milliseconds) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    std::wstring wide;
    if (!win32::ToWide(path, &wide) ||
        !GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data))
        return 0;
    uint64_t ticks = static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32 |
                     data.ftLastWriteTime.dwLowDateTime;
    *milliseconds = ticks / 10000;  // from 100 ns units
    return 1;
}

int FileSame(const char* a, const char* b) {
    BY_HANDLE_FILE_INFORMATION info[2];
    const char* paths[2] = {a, b};
    for (int i = 0; i < 2; ++i) {
        std::wstring wide;
        if (!win32::ToWide(paths[i], &wide))
            return 0;
        // No access asked and all sharing allowed: this works on files that others hold.
        HANDLE opened =
            CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (opened == INVALID_HANDLE_VALUE)
            return 0;
        win32::ScopedHandle h(opened);
        if (!GetFileInformationByHandle(h.Get(), &info[i]))
            return 0;
    }
    return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
           info[0].nFileIndexHigh == info[1].nFileIndexHigh &&
           info[0].nFileIndexLow == info[1].nFileIndexLow;
}

PathKind FileLookUp(const char* path) {
    std::wstring wide;
    DWORD attributes =
        win32::ToWide(path, &wide) ? GetFileAttributesW(wide.c_str()) : INVALID_FILE_ATTRIBUTES;
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return kPathMissing;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return kPathFolder;
    return attributes & FILE_ATTRIBUTE_READONLY ? kPathReadOnly : kPathFile;
}

uint32_t FileLastError() {
    return lastError;
}

std::string FileErrorText(uint32_t error) {
    wchar_t text[512] = L"";
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, text, sizeof text / sizeof text[0], nullptr);
    while (length && (text[length - 1] == L'\r' || text[length - 1] == L'\n' ||
                      text[length - 1] == L' ' || text[length - 1] == L'.'))
        text[--length] = L'\0';
    for (DWORD i = 0; i < length; ++i)
        if (text[i] == L'\r' || text[i] == L'\n')
            text[i] = L' ';
    if (!length)
        return "error " + std::to_string(error);
    return win32::Utf8(text);
}

std::string FileNameFromSystemText(const char* text) {
    int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (length <= 1)
        return std::string();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], length);
    return win32::Utf8(wide.c_str());
}

void FileDialog(int save, const char* filter, const char* defaultExtension, char* name,
                uint32_t capacity) {
    if (!capacity)
        return;
    name[0] = '\0';
    // The filter's pieces each end with a NUL, the list with an empty one.
    std::wstring filters;
    for (const char* piece = filter; piece && *piece; piece += strlen(piece) + 1)
        filters += win32::Wide(piece) + L'\0';
    std::wstring extension = win32::Wide(defaultExtension);
    // UTF-8 takes up to three bytes for a UTF-16 unit: a path of this many fits `name`.
    std::wstring chosen(capacity / 3 + 1, L'\0');
    OPENFILENAMEW ofn;
    ZeroMemory(&ofn, sizeof ofn);
    // The record without the members later versions appended; its size differs per build.
    ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400W;
    ofn.lpstrFilter = filters.empty() ? nullptr : filters.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = &chosen[0];
    ofn.nMaxFile = static_cast<DWORD>(chosen.size());
    ofn.Flags = OFN_EXPLORER | OFN_EXTENSIONDIFFERENT | OFN_HIDEREADONLY |
                (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST);
    ofn.lpstrDefExt = extension.empty() ? nullptr : extension.c_str();
    if (!(save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn))) {
        // On failure the buffer may hold a required size rather than a path. 0 is the user's
        // Cancel; anything else is the dialog's own failure, in its own codes.
        DWORD error = CommDlgExtendedError();
        if (error)
            win32::ReportFailure(save ? "GetSaveFileNameW" : "GetOpenFileNameW", error,
                                 "dialog error 0x%lx", static_cast<unsigned long>(error));
        return;
    }
    std::string path = win32::Utf8(chosen.c_str());
    if (path.size() < capacity)
        memcpy(name, path.c_str(), path.size() + 1);
}

}  // namespace platform
