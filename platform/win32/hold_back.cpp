// The user's own keyboard and mouse during an emulated playback. The system takes no input from
// the user while it plays a journal; here low-level hooks on a thread of their own drop every
// input that is not the playback's, with three exceptions that keep the user in charge:
// - a key press that makes one of the program's hotkeys is turned into that hotkey's message,
//   so that Ctrl+Alt+Shift+S still stops the playback;
// - the release of a key or button whose press was not dropped here (the hotkey that started
//   the playback, the click that chose Play, a key pressed as the hooks went in) goes through,
//   or it would stay down for the system;
// - while the program's popup menu or one of its dialogs is open, everything goes through, so
//   that the menu or the dialog opened during a playback can be used (and closed); a release
//   whose press was dropped before it opened is dropped still.
// And Ctrl+Esc, with which the system lets the user out of its journal playback, cancels this
// one in the same way.
// The hooks run on their own thread so that they answer the system at once whatever the main
// thread is doing: a low-level hook that keeps the system waiting is skipped, or removed.
#include <windows.h>

#include <optional>

#include "platform/win32/input_win32.h"
#include "platform/win32/report.h"
#include "platform/win32/scoped.h"

namespace platform {
namespace win32 {

namespace {

// What the hooks read and write, on their thread only while it runs.
struct HoldBack {
    bool running;
    // Keys (and buttons, by their virtual keys) whose press was dropped here: their release is
    // dropped too. Every other release goes through, so that nothing the system saw go down
    // stays down.
    bool pressDropped[256];
    // The user's keys as the hooks saw them, for the hotkeys' modifiers and to tell a key's
    // repeats from its press.
    bool down[256];
};

HoldBack holdBack;

// The hooks' thread. Going, it posts the thread its quit and waits for its end (the hooks are
// removed by then), then closes the event that the thread told its start with.
struct HoldBackThread {
    ~HoldBackThread() {
        if (thread)
            PostThreadMessageW(threadId, WM_QUIT, 0, 0);
    }

    ScopedHandle ready;
    DWORD threadId = 0;
    JoinedThread thread;  // last: joined first
};

std::optional<HoldBackThread> hooksThread;

uint32_t Modifiers() {
    const bool* down = holdBack.down;
    uint32_t modifiers = 0;
    if (down[VK_LCONTROL] || down[VK_RCONTROL])
        modifiers |= MOD_CONTROL;
    if (down[VK_LMENU] || down[VK_RMENU])
        modifiers |= MOD_ALT;
    if (down[VK_LSHIFT] || down[VK_RSHIFT])
        modifiers |= MOD_SHIFT;
    if (down[VK_LWIN] || down[VK_RWIN])
        modifiers |= MOD_WIN;
    return modifiers;
}

LRESULT CALLBACK HoldBackKeyboard(int code, WPARAM wParam, LPARAM lParam) {
    if (code != HC_ACTION)
        return CallNextHookEx(nullptr, code, wParam, lParam);
    const KBDLLHOOKSTRUCT* key = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
    if (key->dwExtraInfo == kPlaybackInputTag)
        return CallNextHookEx(nullptr, code, wParam, lParam);
    uint8_t vk = static_cast<uint8_t>(key->vkCode);
    bool up = (key->flags & LLKHF_UP) != 0;
    bool wasDown = holdBack.down[vk];
    holdBack.down[vk] = !up;
    uint32_t modifiers = Modifiers();
    // The way out of a playback, whatever is open; its release goes where its press went.
    if (!up && vk == VK_ESCAPE && modifiers == MOD_CONTROL) {
        holdBack.pressDropped[vk] = true;
        CancelPlayback();
        return 1;
    }
    if (OwnWindowIsOpen() && !(up && holdBack.pressDropped[vk])) {
        holdBack.pressDropped[vk] = false;
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    if (up) {
        bool dropped = holdBack.pressDropped[vk];
        holdBack.pressDropped[vk] = false;
        return dropped ? 1 : CallNextHookEx(nullptr, code, wParam, lParam);
    }
    // The repeats of a key that went down before are dropped without taking its release.
    if (!wasDown)
        holdBack.pressDropped[vk] = true;
    HWND window;
    int id;
    if (FindHotkey(modifiers, vk, &window, &id))
        PostMessageW(window, WM_HOTKEY, static_cast<WPARAM>(id), MAKELPARAM(modifiers, vk));
    return 1;
}

// The virtual key of a button message, 0 for moves and the wheel.
uint8_t ButtonKey(WPARAM message, DWORD mouseData) {
    switch (message) {
        case WM_LBUTTONDOWN:
        case WM_LBUTTONUP:
            return VK_LBUTTON;
        case WM_RBUTTONDOWN:
        case WM_RBUTTONUP:
            return VK_RBUTTON;
        case WM_MBUTTONDOWN:
        case WM_MBUTTONUP:
            return VK_MBUTTON;
        case WM_XBUTTONDOWN:
        case WM_XBUTTONUP:
            return HIWORD(mouseData) == XBUTTON2 ? VK_XBUTTON2 : VK_XBUTTON1;
        default:
            return 0;
    }
}

bool IsButtonUp(WPARAM message) {
    return message == WM_LBUTTONUP || message == WM_RBUTTONUP || message == WM_MBUTTONUP ||
           message == WM_XBUTTONUP;
}

LRESULT CALLBACK HoldBackMouse(int code, WPARAM wParam, LPARAM lParam) {
    if (code != HC_ACTION)
        return CallNextHookEx(nullptr, code, wParam, lParam);
    const MSLLHOOKSTRUCT* mouse = reinterpret_cast<const MSLLHOOKSTRUCT*>(lParam);
    if (mouse->dwExtraInfo == kPlaybackInputTag)
        return CallNextHookEx(nullptr, code, wParam, lParam);
    uint8_t button = ButtonKey(wParam, mouse->mouseData);
    if (OwnWindowIsOpen() && !(IsButtonUp(wParam) && holdBack.pressDropped[button])) {
        holdBack.pressDropped[button] = false;
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    if (button && IsButtonUp(wParam)) {
        bool dropped = holdBack.pressDropped[button];
        holdBack.pressDropped[button] = false;
        return dropped ? 1 : CallNextHookEx(nullptr, code, wParam, lParam);
    }
    if (button)
        holdBack.pressDropped[button] = true;
    return 1;
}

// `ready`: the event set once the hooks are in, or could not be.
DWORD WINAPI HoldBackHooks(void* ready) {
    MSG message;
    // The thread's queue must exist before anyone posts its quit.
    PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    HINSTANCE module = GetModuleHandleW(nullptr);
    ScopedHook keyboard(SetWindowsHookExW(WH_KEYBOARD_LL, HoldBackKeyboard, module, 0));
    if (!keyboard)
        ReportLastError("SetWindowsHookExW", "WH_KEYBOARD_LL, to hold the user's keys back");
    ScopedHook mouse(SetWindowsHookExW(WH_MOUSE_LL, HoldBackMouse, module, 0));
    if (!mouse)
        ReportLastError("SetWindowsHookExW", "WH_MOUSE_LL, to hold the user's mouse back");
    // Taken once the hooks are in: input from now on waits for them, which this thread calls
    // only from its loop below, so every key is either down here or seen by the hooks.
    for (int vk = 1; vk < 256; ++vk)
        holdBack.down[vk] = GetAsyncKeyState(vk) < 0;
    holdBack.running = keyboard && mouse;
    SetEvent(static_cast<HANDLE>(ready));
    if (holdBack.running) {
        // The hooks are called from inside this loop.
        while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        }
    }
    return 0;
}

void EndHoldBackThread() {
    hooksThread.reset();
    holdBack = HoldBack();
}

}  // namespace

bool HoldBackUserInput() {
    holdBack = HoldBack();
    HoldBackThread& hooks = hooksThread.emplace();
    hooks.ready.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!hooks.ready) {
        hooksThread.reset();
        return false;
    }
    hooks.thread.Start(HoldBackHooks, hooks.ready.Get(), &hooks.threadId);
    if (!hooks.thread) {
        ReportLastError("CreateThread", "the hold-back");
        EndHoldBackThread();
        return false;
    }
    SetThreadPriority(hooks.thread.Get(), THREAD_PRIORITY_ABOVE_NORMAL);
    WaitForSingleObject(hooks.ready.Get(), INFINITE);
    if (!holdBack.running) {
        EndHoldBackThread();
        return false;
    }
    return true;
}

void ReleaseUserInput() {
    if (hooksThread)
        EndHoldBackThread();
}

}  // namespace win32
}  // namespace platform
