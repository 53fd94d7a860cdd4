// The window lookup on Win32. The program is per-monitor aware, so rectangles come in physical
// pixels, as the events' positions do.
#include <windows.h>

#include <cstring>

#include "platform/win32/scoped.h"
#include "platform/win32/screen_win32.h"
#include "platform/window_lookup.h"

namespace platform {

namespace {

void CopyName(const char* from, char* to) {
    size_t length = strnlen(from, kWindowNameSize - 1);
    memcpy(to, from, length);
    to[length] = '\0';
}

// The file name of the program that owns the window, without its folder; empty when the
// process will not tell (another user's, or a protected one).
void ProgramOf(HWND window, char* name) {
    name[0] = '\0';
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char path[MAX_PATH * 2];
    DWORD size = sizeof path;
    bool found = false;
    // Vista and later name any process with the least access; Windows XP needs psapi.
    typedef BOOL(WINAPI * QueryName)(HANDLE, DWORD, LPSTR, PDWORD);
    static QueryName query = reinterpret_cast<QueryName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "QueryFullProcessImageNameA")));
    if (query) {
        win32::ScopedHandle handle(
            OpenProcess(0x1000 /* PROCESS_QUERY_LIMITED_INFORMATION */, FALSE, process));
        found = handle && query(handle.Get(), 0, path, &size);
    } else {
        typedef DWORD(WINAPI * ModuleName)(HANDLE, HMODULE, LPSTR, DWORD);
        static ModuleName moduleName = reinterpret_cast<ModuleName>(reinterpret_cast<void*>(
            GetProcAddress(LoadLibraryA("psapi.dll"), "GetModuleFileNameExA")));
        win32::ScopedHandle handle(
            OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, process));
        found = handle && moduleName && moduleName(handle.Get(), nullptr, path, sizeof path) > 0;
    }
    if (!found)
        return;
    path[sizeof path - 1] = '\0';
    const char* file = path + strlen(path);
    while (file > path && file[-1] != '\\' && file[-1] != '/')
        file--;
    CopyName(file, name);
}

struct Listing {
    WindowHandle* windows;
    uint32_t capacity;
    uint32_t count;
};

BOOL CALLBACK ListVisible(HWND window, LPARAM context) {
    Listing* listing = reinterpret_cast<Listing*>(context);
    if (IsWindowVisible(window)) {
        if (listing->count < listing->capacity)
            listing->windows[listing->count] = window;
        listing->count++;
    }
    return TRUE;
}

}  // namespace

WindowHandle RootWindowAt(int32_t x, int32_t y) {
    POINT point = {x, y};
    HWND window = WindowFromPoint(point);
    HWND root = window ? GetAncestor(window, GA_ROOT) : nullptr;
    return root == GetDesktopWindow() ? nullptr : root;
}

WindowHandle ForegroundWindow() {
    // Wine's desktop takes the foreground when no window has it; it is no top-level window that
    // a replay could wait for.
    HWND window = GetForegroundWindow();
    return window == GetDesktopWindow() ? nullptr : window;
}

bool WindowBounds(WindowHandle window, WindowRect* rect) {
    RECT r;
    if (!GetWindowRect(static_cast<HWND>(window), &r))
        return false;
    *rect = {r.left, r.top, r.right, r.bottom};
    return true;
}

bool DescribeWindow(WindowHandle window, WindowInfo* info) {
    HWND handle = static_cast<HWND>(window);
    if (!WindowBounds(window, &info->rect))
        return false;
    // The title of another process's window is read without sending it a message, so a hung
    // program cannot stall the hook.
    info->title[0] = info->windowClass[0] = '\0';
    GetWindowTextA(handle, info->title, kWindowNameSize);
    GetClassNameA(handle, info->windowClass, kWindowNameSize);
    ProgramOf(handle, info->program);
    info->dpi = win32::MonitorDpi(MonitorFromWindow(handle, MONITOR_DEFAULTTONEAREST));
    return true;
}

uint32_t VisibleWindows(WindowHandle* windows, uint32_t capacity) {
    // EnumWindows goes through the top-level windows in their order on the screen.
    Listing listing = {windows, capacity, 0};
    EnumWindows(ListVisible, reinterpret_cast<LPARAM>(&listing));
    return listing.count;
}

}  // namespace platform
