// Win32 windows, messages, timers, hotkeys, menus, resources and process services.
#include <windows.h>

#include <atomic>

#include "platform/win32/input_win32.h"
#include "platform/win32/report.h"
#include "platform/window.h"

namespace {

// The system's procedure behind the main window class; the class gets a thunk with the
// platform's calling convention.
platform::WindowProcedure mainProcedure = nullptr;
// Where the loop hands the windowless WM_CANCELJOURNAL.
HWND mainWindow = nullptr;

LRESULT CALLBACK MainWindowThunk(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!mainProcedure)
        return DefWindowProcA(window, message, wParam, lParam);
    return mainProcedure(window, message, wParam, lParam);
}

// The hotkeys this process holds, so that a playback that keeps the user's keys from the system
// can still hand the program its own (see hold_back.cpp). Only ever appended to; read from the
// playback's hook thread.
struct RegisteredHotkey {
    HWND window;
    int id;
    uint32_t modifiers;
    uint32_t key;
};
RegisteredHotkey hotkeys[16];
std::atomic<int> hotkeyCount(0);

// The program's own menus and dialogs open now.
std::atomic<int> ownWindowsOpen(0);

// The system posts WM_CANCELJOURNAL to the thread, without a window, and so does the emulated
// playback: a modal loop (a menu's, a dialog's) would dispatch it to nothing. Every loop of the
// thread fetches through this hook, which hands it to the main window instead.
HHOOK cancelRouting = nullptr;

LRESULT CALLBACK RouteCancel(int code, WPARAM wParam, LPARAM lParam) {
    MSG* message = reinterpret_cast<MSG*>(lParam);
    if (code == HC_ACTION && message->message == WM_CANCELJOURNAL && !message->hwnd &&
        IsWindow(mainWindow))
        message->hwnd = mainWindow;
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

namespace platform {

namespace win32 {

bool FindHotkey(uint32_t modifiers, uint32_t virtualKey, HWND* window, int* id) {
    int count = hotkeyCount.load();
    for (int i = 0; i < count; ++i) {
        const RegisteredHotkey& hotkey = hotkeys[i];
        // A window gone takes its hotkeys with it.
        if (hotkey.modifiers == modifiers && hotkey.key == virtualKey && IsWindow(hotkey.window)) {
            *window = hotkey.window;
            *id = hotkey.id;
            return true;
        }
    }
    return false;
}

OwnWindowOpen::OwnWindowOpen() {
    ownWindowsOpen.fetch_add(1);
}

OwnWindowOpen::~OwnWindowOpen() {
    ownWindowsOpen.fetch_sub(1);
}

bool OwnWindowIsOpen() {
    return ownWindowsOpen.load() > 0;
}

}  // namespace win32

int RegisterMainWindowClass(InstanceHandle instance, const char* className,
                            WindowProcedure procedure, int iconId, int menuId) {
    HINSTANCE module = static_cast<HINSTANCE>(instance);
    mainProcedure = procedure;
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWindowThunk;
    windowClass.hInstance = module;
    windowClass.hIcon = LoadIconA(module, MAKEINTRESOURCEA(iconId));
    windowClass.hIconSm = LoadIconA(module, MAKEINTRESOURCEA(iconId));
    windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszMenuName = MAKEINTRESOURCEA(menuId);
    windowClass.lpszClassName = className;
    if (RegisterClassExA(&windowClass))
        return 1;
    win32::ReportLastError("RegisterClassExA", "\"%s\"", className);
    return 0;
}

WindowHandle CreateHiddenWindow(InstanceHandle instance, const char* className) {
    HWND window = CreateWindowExA(0, className, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                  static_cast<HINSTANCE>(instance), nullptr);
    if (!window) {
        win32::ReportLastError("CreateWindowExA", "\"%s\"", className);
        return nullptr;
    }
    mainWindow = window;
    if (!cancelRouting) {
        cancelRouting =
            SetWindowsHookExW(WH_GETMESSAGE, RouteCancel, nullptr, GetCurrentThreadId());
        if (!cancelRouting)
            win32::ReportLastError("SetWindowsHookExW", "WH_GETMESSAGE, for WM_CANCELJOURNAL");
    }
    return window;
}

void DestroyWindowNow(WindowHandle window) {
    DestroyWindow(static_cast<HWND>(window));
}

intptr_t DefaultWindowProcedure(WindowHandle window, uint32_t message, uintptr_t wParam,
                                intptr_t lParam) {
    return DefWindowProcA(static_cast<HWND>(window), message, wParam, lParam);
}

intptr_t SendToWindow(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    return SendMessageA(static_cast<HWND>(window), message, wParam, lParam);
}

void PostToWindow(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    if (!PostMessageA(static_cast<HWND>(window), message, wParam, lParam))
        win32::ReportLastError("PostMessageA", "message 0x%x", message);
}

void PostQuit(int exitCode) {
    PostQuitMessage(exitCode);
}

int RunMessageLoop(InstanceHandle instance, int acceleratorId) {
    HACCEL accelerators =
        LoadAcceleratorsA(static_cast<HINSTANCE>(instance), MAKEINTRESOURCEA(acceleratorId));
    MSG message;
    BOOL result;
    while ((result = GetMessageA(&message, nullptr, 0, 0)) != 0) {
        if (result == -1) {
            win32::ReportLastError("GetMessageA", nullptr);
            return 0;
        }
        if (!TranslateAcceleratorA(message.hwnd, accelerators, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    return static_cast<int>(message.wParam);
}

int StartTimer(WindowHandle window, uintptr_t id, uint32_t milliseconds) {
    if (SetTimer(static_cast<HWND>(window), id, milliseconds, nullptr))
        return 1;
    win32::ReportLastError("SetTimer", "id %u, %u ms", static_cast<unsigned>(id), milliseconds);
    return 0;
}

void StopTimer(WindowHandle window, uintptr_t id) {
    KillTimer(static_cast<HWND>(window), id);
}

int RegisterGlobalHotkey(WindowHandle window, int id, uint32_t modifiers, uint32_t virtualKey) {
    if (!RegisterHotKey(static_cast<HWND>(window), id, modifiers, virtualKey)) {
        win32::ReportLastError("RegisterHotKey", "id %d, modifiers 0x%x, key 0x%x", id, modifiers,
                               virtualKey);
        return 0;
    }
    int count = hotkeyCount.load();
    if (count < static_cast<int>(sizeof hotkeys / sizeof hotkeys[0])) {
        hotkeys[count] = {static_cast<HWND>(window), id, modifiers, virtualKey};
        hotkeyCount.store(count + 1);
    }
    return 1;
}

MenuHandle DetachPopupMenu(WindowHandle window) {
    HWND handle = static_cast<HWND>(window);
    HMENU popup = GetSubMenu(GetMenu(handle), 0);
    SetMenu(handle, nullptr);
    return popup;
}

void CheckMenuCommand(MenuHandle menu, uint32_t command, int checked) {
    CheckMenuItem(static_cast<HMENU>(menu), command,
                  static_cast<UINT>(MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED)));
}

void EnableMenuCommand(MenuHandle menu, uint32_t command, int enabled) {
    EnableMenuItem(static_cast<HMENU>(menu), command,
                   MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

uint32_t TrackPopupMenuAtCursor(MenuHandle menu, WindowHandle owner) {
    HWND window = static_cast<HWND>(owner);
    POINT point = {0, 0};
    GetCursorPos(&point);
    // Without the foreground the menu takes no keys and stays open when the user clicks
    // elsewhere; the posted null message lets it close properly. Whoever had the foreground gets
    // it back afterwards: the user's window, or a dialog of ours the menu was opened from, which
    // would otherwise stay inactive behind the hidden main window.
    HWND before = GetForegroundWindow();
    SetForegroundWindow(window);
    BOOL chosen;
    {
        win32::OwnWindowOpen open;
        chosen = TrackPopupMenuEx(static_cast<HMENU>(menu), TPM_VERTICAL | TPM_RETURNCMD, point.x,
                                  point.y, window, nullptr);
    }
    if (!chosen && GetLastError() != NO_ERROR)
        win32::ReportLastError("TrackPopupMenuEx", nullptr);
    PostMessageA(window, WM_NULL, 0, 0);
    if (before && before != window && IsWindow(before))
        SetForegroundWindow(before);
    return static_cast<uint32_t>(chosen);
}

int LoadTextResource(InstanceHandle instance, int id, char* text, int capacity) {
    int length =
        LoadStringA(static_cast<HINSTANCE>(instance), static_cast<UINT>(id), text, capacity);
    if (!length)
        win32::ReportLastError("LoadStringA", "string %d", id);
    return length;
}

IconHandle LoadIconResource(InstanceHandle instance, int id) {
    // The notification area shows small icons; pick the image drawn for that size at the
    // current DPI rather than scaling the large one.
    HANDLE icon = LoadImageA(static_cast<HINSTANCE>(instance), MAKEINTRESOURCEA(id), IMAGE_ICON,
                             GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                             LR_DEFAULTCOLOR | LR_SHARED);
    if (!icon)
        win32::ReportLastError("LoadImageA", "icon %d", id);
    return icon;
}

uint32_t LaunchProgram(const char* command) {
    UINT result = WinExec(command, SW_SHOWNORMAL);
    // Up to 31 is a refusal; the command line is the user's, so only its outcome is told.
    if (result <= 31)
        win32::ReportFailure("WinExec", result, nullptr);
    return result;
}

uint32_t CreateInstanceMutex(const char* name) {
    SetLastError(0);
    HANDLE mutex = CreateMutexA(nullptr, TRUE, name);
    DWORD error = GetLastError();
    // Another instance holding it is an answer, not a failure.
    if (!mutex)
        win32::ReportFailure("CreateMutexA", error, "\"%s\"", name);
    return error;
}

void SetSystemParameter(uint32_t action, uint32_t value) {
    SystemParametersInfoA(action, value, nullptr, 0);
}

}  // namespace platform
