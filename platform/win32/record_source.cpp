// Recording without journal hooks: low-level keyboard and mouse hooks on the installing thread,
// each event translated into the five fields of a journal record and handed to the procedure,
// each mouse event followed by its raw motion (record_motion.cpp).
#include <windows.h>

#include "platform/input.h"
#include "platform/win32/input_win32.h"
#include "platform/win32/report.h"
#include "platform/win32/scoped.h"

namespace platform {
namespace win32 {

namespace {

// Installed from InstallEmulatedRecord to RemoveEmulatedRecord.
struct RecordSource {
    HookProcedure procedure = nullptr;
    ScopedHook keyboard;
    ScopedHook mouse;
};

RecordSource recordSource;

uint32_t HandleToField(HWND window) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window));
}

// The window keys go to: the focus window of the foreground thread.
uint32_t KeyTargetWindow() {
    GUITHREADINFO info;
    info.cbSize = sizeof(info);
    if (GetGUIThreadInfo(0, &info)) {
        if (info.hwndFocus)
            return HandleToField(info.hwndFocus);
        if (info.hwndActive)
            return HandleToField(info.hwndActive);
    }
    return HandleToField(GetForegroundWindow());
}

// Low-level hooks name the left and right modifier keys apart; key messages, and so journal
// records, carry the generic key, with the side only in the scan code and extended bit.
uint32_t GenericKey(uint32_t vk) {
    switch (vk) {
        case VK_LSHIFT:
        case VK_RSHIFT:
            return VK_SHIFT;
        case VK_LCONTROL:
        case VK_RCONTROL:
            return VK_CONTROL;
        case VK_LMENU:
        case VK_RMENU:
            return VK_MENU;
        default:
            return vk;
    }
}

// Low-level hooks are dropped by the system when they take too long, so both procedures only
// translate and hand over.
LRESULT CALLBACK RecordKeyboardProc(int code, WPARAM wParam, LPARAM lParam) {
    HookProcedure procedure = recordSource.procedure;
    if (code == HC_ACTION && procedure) {
        const KBDLLHOOKSTRUCT* key = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
        if (key->dwExtraInfo != kPlaybackInputTag) {
            EventRecord record;
            record.message = static_cast<uint32_t>(wParam);
            record.paramL = (GenericKey(key->vkCode) & 0xFF) | ((key->scanCode & 0xFF) << 8);
            record.paramH = 1 | ((key->flags & LLKHF_EXTENDED) ? 0x8000 : 0);
            record.time = key->time;
            record.hwnd = KeyTargetWindow();
            procedure(HC_ACTION, 0, reinterpret_cast<intptr_t>(&record));
        }
    }
    // The procedure may have removed this hook: pass on without its handle.
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK RecordMouseProc(int code, WPARAM wParam, LPARAM lParam) {
    HookProcedure procedure = recordSource.procedure;
    if (code == HC_ACTION && procedure) {
        const MSLLHOOKSTRUCT* mouse = reinterpret_cast<const MSLLHOOKSTRUCT*>(lParam);
        if (mouse->dwExtraInfo != kPlaybackInputTag) {
            EventRecord record;
            record.message = static_cast<uint32_t>(wParam);
            switch (wParam) {
                case WM_MOUSEWHEEL:
                case WM_MOUSEHWHEEL:
                // The X button number (1 or 2) travels where a wheel record keeps its delta.
                case WM_XBUTTONDOWN:
                case WM_XBUTTONUP:
                    record.message |= mouse->mouseData & 0xFFFF0000u;
                    break;
                default:
                    break;
            }
            record.paramL = static_cast<uint32_t>(mouse->pt.x);
            record.paramH = static_cast<uint32_t>(mouse->pt.y);
            record.time = mouse->time;
            record.hwnd = HandleToField(WindowFromPoint(mouse->pt));
            procedure(HC_ACTION, 0, reinterpret_cast<intptr_t>(&record));
        }
        TakeQueuedMotion();
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

HookHandle InstallEmulatedRecord(InstanceHandle instance, HookProcedure procedure) {
    if (recordSource.procedure)
        return nullptr;
    HINSTANCE module = static_cast<HINSTANCE>(instance);
    // Set before installing: input may arrive as soon as the first hook is in.
    recordSource.procedure = procedure;
    recordSource.keyboard.Reset(SetWindowsHookExW(WH_KEYBOARD_LL, RecordKeyboardProc, module, 0));
    if (!recordSource.keyboard)
        ReportLastError("SetWindowsHookExW", "WH_KEYBOARD_LL, to record");
    recordSource.mouse.Reset(SetWindowsHookExW(WH_MOUSE_LL, RecordMouseProc, module, 0));
    if (!recordSource.mouse)
        ReportLastError("SetWindowsHookExW", "WH_MOUSE_LL, to record");
    if (!recordSource.keyboard || !recordSource.mouse) {
        recordSource.keyboard.Reset(nullptr);
        recordSource.mouse.Reset(nullptr);
        recordSource.procedure = nullptr;
        return nullptr;
    }
    StartRawMotion(module, procedure);
    return &recordSource;
}

void RemoveEmulatedRecord() {
    if (!recordSource.procedure)
        return;
    recordSource.keyboard.Reset(nullptr);
    recordSource.mouse.Reset(nullptr);
    StopRawMotion();
    recordSource.procedure = nullptr;
}

bool IsRecordSourceHandle(HookHandle hook) {
    return hook == &recordSource;
}

bool RecordSourceInstalled() {
    return recordSource.procedure != nullptr;
}

}  // namespace win32
}  // namespace platform
