// Raw mouse motion beside the record source's low-level hooks: the counts the device reported,
// which a program that turns a view with the mouse reads, and which the hook's positions lose
// wherever the pointer stops at an edge or is put back by the program.
#include <windows.h>

#include "platform/input.h"
#include "platform/win32/input_win32.h"
#include "platform/win32/report.h"
#include "platform/win32/scoped.h"

namespace platform {
namespace win32 {

namespace {

const wchar_t kMotionWindowClass[] = L"qv.input.motion";
// Raw input's generic desktop page and its mouse.
const USHORT kDesktopPage = 1;
const USHORT kMouseUsage = 2;
// GetCursorInfo's flag for a cursor that pen or touch input keeps from being drawn (Windows 8):
// the program did not hide it.
const DWORD kCursorSuppressed = 2;
// Raw input left queued past this many at once waits for the message loop.
const int kMostTakenAtOnce = 16;

// Made by StartRawMotion, let go of by StopRawMotion.
struct RawMotion {
    HookProcedure procedure = nullptr;
    ScopedWindow window;
};

RawMotion rawMotion;

uint32_t CursorFlags() {
    uint32_t flags = 0;
    CURSORINFO cursor;
    cursor.cbSize = sizeof(cursor);
    if (GetCursorInfo(&cursor) &&
        (!(cursor.flags & (CURSOR_SHOWING | kCursorSuppressed)) || !cursor.hCursor))
        flags |= kMotionCursorHidden;
    RECT clip;
    if (GetClipCursor(&clip)) {
        int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
        int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
        if (clip.left > left || clip.top > top ||
            clip.right < left + GetSystemMetrics(SM_CXVIRTUALSCREEN) ||
            clip.bottom < top + GetSystemMetrics(SM_CYVIRTUALSCREEN))
            flags |= kMotionCursorConfined;
    }
    return flags;
}

void HandOver(HRAWINPUT handle) {
    HookProcedure procedure = rawMotion.procedure;
    RAWINPUT input;
    UINT size = sizeof(input);
    if (!procedure ||
        GetRawInputData(handle, RID_INPUT, &input, &size, sizeof(RAWINPUTHEADER)) == UINT(-1) ||
        input.header.dwType != RIM_TYPEMOUSE)
        return;
    const RAWMOUSE& mouse = input.data.mouse;
    // Positions are no counts, a button alone moves nothing, and our own playback is not
    // recorded (raw input carries the tag its hook record carries).
    if ((mouse.usFlags & MOUSE_MOVE_ABSOLUTE) || (!mouse.lLastX && !mouse.lLastY) ||
        mouse.ulExtraInformation == kPlaybackInputTag)
        return;
    MotionRecord record = {mouse.lLastX, mouse.lLastY, CursorFlags()};
    procedure(kMotionCode, 0, reinterpret_cast<intptr_t>(&record));
}

LRESULT CALLBACK MotionWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INPUT)
        HandOver(reinterpret_cast<HRAWINPUT>(lParam));
    // Where raw input is cleaned up.
    return DefWindowProcW(window, message, wParam, lParam);
}

bool RegisterRawMouse(DWORD flags, HWND window) {
    RAWINPUTDEVICE device = {kDesktopPage, kMouseUsage, flags, window};
    return RegisterRawInputDevices(&device, 1, sizeof(device)) != FALSE;
}

}  // namespace

bool StartRawMotion(HINSTANCE module, HookProcedure procedure) {
    static ATOM windowClass;
    if (!windowClass) {
        WNDCLASSW description = {};
        description.lpfnWndProc = MotionWindowProc;
        description.hInstance = module;
        description.lpszClassName = kMotionWindowClass;
        windowClass = RegisterClassW(&description);
        if (!windowClass) {
            ReportLastError("RegisterClassW", "the raw motion's window");
            return false;
        }
    }
    rawMotion.window.Reset(CreateWindowExW(0, kMotionWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                           nullptr, module, nullptr));
    if (!rawMotion.window) {
        ReportLastError("CreateWindowExW", "the raw motion's window");
        return false;
    }
    // Whichever program has the foreground: the motion goes to it, not to us.
    if (!RegisterRawMouse(RIDEV_INPUTSINK, rawMotion.window.Get())) {
        ReportLastError("RegisterRawInputDevices", "the mouse, to record its motion");
        rawMotion.window.Reset(nullptr);
        return false;
    }
    rawMotion.procedure = procedure;
    return true;
}

void StopRawMotion() {
    if (!rawMotion.window)
        return;
    RegisterRawMouse(RIDEV_REMOVE, nullptr);
    rawMotion.window.Reset(nullptr);
    rawMotion.procedure = nullptr;
}

void TakeQueuedMotion() {
    // Dispatched here rather than read with GetRawInputBuffer, whose records a 32-bit program
    // on 64-bit Windows finds laid out otherwise. PeekMessage answers what was sent to this
    // thread meanwhile, as the loop around the hook would; the procedure, or a window's answer,
    // may end the recording.
    MSG message;
    for (int taken = 0;
         taken < kMostTakenAtOnce && rawMotion.window &&
         PeekMessageW(&message, rawMotion.window.Get(), WM_INPUT, WM_INPUT, PM_REMOVE);
         ++taken)
        DispatchMessageW(&message);
}

}  // namespace win32
}  // namespace platform
