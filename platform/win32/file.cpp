// Win32 file service: CreateFileA handles that let others read, positioned transfers and the
// common open/save dialogs. Calls that another program's handle can refuse for a moment are
// tried again.
#include <windows.h>
#include <commdlg.h>

#include "platform/file.h"
#include "platform/win32/report.h"

namespace platform {

namespace {

// About two seconds in all, most of it in the last waits: virus scanners and indexers open a
// file they have just seen for a moment. A refused call changes nothing, so it can be tried
// again.
const DWORD kWaits[] = {10, 20, 40, 80, 150, 300, 500, 900};
const size_t kRetries = sizeof kWaits / sizeof kWaits[0];

// Errors that another program's handle causes while it holds the file.
bool HeldElsewhere(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

// Others may go on reading (a scanner, an indexer), never writing, while the handle is open.
// A new file is ours alone until it is complete.
HANDLE Open(const char* path, DWORD disposition) {
    DWORD share = disposition == CREATE_NEW ? 0 : FILE_SHARE_READ;
    for (size_t attempt = 0;; ++attempt) {
        HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, share, nullptr, disposition,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE)
            return h;
        DWORD error = GetLastError();
        if (attempt < kRetries && HeldElsewhere(error)) {
            Sleep(kWaits[attempt]);
            continue;
        }
        // A name already taken is how a save finds a free temporary name: an answer, not a fault.
        if (!(disposition == CREATE_NEW &&
              (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)))
            win32::ReportFailure("CreateFileA", error, "\"%s\", %s, after %u attempts", path,
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
        win32::ReportLastError("SetFilePointer", "offset %lu", static_cast<unsigned long>(offset));
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
        win32::ReportLastError("ReadFile", "%lu bytes at %lu", static_cast<unsigned long>(length),
                               static_cast<unsigned long>(offset));
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
        win32::ReportLastError("WriteFile", "%lu bytes at %lu", static_cast<unsigned long>(length),
                               static_cast<unsigned long>(offset));
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
    if (!flushed)
        win32::ReportLastError("FlushFileBuffers", nullptr);
    int closed = CloseHandle(h) != 0;
    if (!closed)
        win32::ReportLastError("CloseHandle", "a file");
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
    DWORD attributes = GetFileAttributesA(to);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & kKept))
        SetFileAttributesA(from, attributes & kKept);
    for (size_t attempt = 0;; ++attempt) {
        if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return 1;
        if (attempt == kRetries || !Transient(GetLastError())) {
            win32::ReportLastError("MoveFileExA", "\"%s\" to \"%s\", after %u attempts", from, to,
                                   static_cast<unsigned>(attempt + 1));
            return 0;
        }
        Sleep(kWaits[attempt]);
    }
}

int FileDelete(const char* path) {
    for (size_t attempt = 0;; ++attempt) {
        if (DeleteFileA(path))
            return 1;
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return 1;
        if (attempt == kRetries || !HeldElsewhere(error)) {
            win32::ReportFailure("DeleteFileA", error, "\"%s\", after %u attempts", path,
                                 static_cast<unsigned>(attempt + 1));
            return 0;
        }
        Sleep(kWaits[attempt]);
    }
}

int FileModifiedTime(const char* path, uint64_t* milliseconds) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data))
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
        // No access asked and all sharing allowed: this works on files that others hold.
        HANDLE h = CreateFileA(paths[i], 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return 0;
        BOOL known = GetFileInformationByHandle(h, &info[i]);
        CloseHandle(h);
        if (!known)
            return 0;
    }
    return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
           info[0].nFileIndexHigh == info[1].nFileIndexHigh &&
           info[0].nFileIndexLow == info[1].nFileIndexLow;
}

PathKind FileLookUp(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return kPathMissing;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return kPathFolder;
    return attributes & FILE_ATTRIBUTE_READONLY ? kPathReadOnly : kPathFile;
}

void FileDialog(int save, const char* filter, const char* defaultExtension, char* name,
                uint32_t capacity) {
    if (!capacity)
        return;
    name[0] = '\0';
    OPENFILENAMEA ofn;
    ZeroMemory(&ofn, sizeof ofn);
    // The record without the members later versions appended; its size differs per build.
    ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    ofn.lpstrFilter = filter && filter[0] ? filter : nullptr;
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = name;
    ofn.nMaxFile = capacity;
    ofn.Flags = OFN_EXPLORER | OFN_EXTENSIONDIFFERENT | OFN_HIDEREADONLY |
                (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST);
    ofn.lpstrDefExt = defaultExtension && defaultExtension[0] ? defaultExtension : nullptr;
    BOOL chosen = save ? GetSaveFileNameA(&ofn) : GetOpenFileNameA(&ofn);
    // On failure the buffer may hold a required size rather than a path.
    if (!chosen) {
        name[0] = '\0';
        // 0 is the user's Cancel; anything else is the dialog's own failure, in its own codes.
        DWORD error = CommDlgExtendedError();
        if (error)
            win32::ReportFailure(save ? "GetSaveFileNameA" : "GetOpenFileNameA", error,
                                 "dialog error 0x%lx", static_cast<unsigned long>(error));
    }
}

}  // namespace platform
