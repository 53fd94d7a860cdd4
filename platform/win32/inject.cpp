// Journal records turned into SendInput, with a note of every key and button they hold down so
// that a stopped playback can let go of them.
#include <windows.h>

#include "platform/input.h"
#include "platform/win32/input_win32.h"
#include "platform/win32/report.h"

namespace platform {
namespace win32 {

namespace {

enum HeldButton : uint32_t {
    kHeldLeft = 1,
    kHeldRight = 2,
    kHeldMiddle = 4,
    kHeldX1 = 8,
    kHeldX2 = 16,
};

LONG Normalise(int32_t coordinate, int origin, int extent) {
    if (extent <= 1)
        return 0;
    int64_t offset = static_cast<int64_t>(coordinate) - origin;
    if (offset < 0)
        offset = 0;
    else if (offset > extent - 1)
        offset = extent - 1;
    // Rounded so that the system's conversion back lands on the very pixel.
    return static_cast<LONG>((offset * 65535 + (extent - 1) / 2) / (extent - 1));
}

// Every mouse input is an absolute move to its point plus its button or wheel action: a button
// sent without its own coordinates may land where an earlier input left the pointer.
INPUT MouseInput(int32_t x, int32_t y, DWORD action, DWORD data) {
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dx =
        Normalise(x, GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_CXVIRTUALSCREEN));
    input.mi.dy =
        Normalise(y, GetSystemMetrics(SM_YVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN));
    input.mi.mouseData = data;
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_VIRTUALDESK | action;
    input.mi.dwExtraInfo = kPlaybackInputTag;
    return input;
}

INPUT KeyInput(uint8_t vk, uint8_t scan, bool extended, bool up) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.wScan = scan;
    input.ki.dwFlags = (up ? KEYEVENTF_KEYUP : 0) | (extended ? KEYEVENTF_EXTENDEDKEY : 0);
    input.ki.dwExtraInfo = kPlaybackInputTag;
    return input;
}

DWORD XButtonOf(uint32_t message) {
    return (message >> 16) == XBUTTON2 ? XBUTTON2 : XBUTTON1;
}

const uint8_t kRightShiftScan = 0x36;
const uint8_t kControlScan = 0x1D;

// The left or right key that a generic modifier stands for, told by its scan code and extended
// bit as the keyboard sends them.
uint8_t SidedKey(uint8_t vk, uint8_t scan, bool extended) {
    switch (vk) {
        case VK_SHIFT:
            return scan == kRightShiftScan ? VK_RSHIFT : VK_LSHIFT;
        case VK_CONTROL:
            return extended ? VK_RCONTROL : VK_LCONTROL;
        case VK_MENU:
            return extended ? VK_RMENU : VK_LMENU;
        default:
            return vk;
    }
}

bool IsModifier(int key) {
    return (key >= VK_LSHIFT && key <= VK_RMENU) || key == VK_LWIN || key == VK_RWIN;
}

bool InjectKey(HeldInput& held, const EventRecord& event, bool up) {
    uint8_t vk = static_cast<uint8_t>(event.paramL);
    uint8_t scan = static_cast<uint8_t>(event.paramL >> 8);
    bool extended = (event.paramH & 0x8000) != 0;
    if (LiftedAlready(held, vk, scan, extended, up))
        return true;
    INPUT input = KeyInput(vk, scan, extended, up);
    if (!SendInput(1, &input, sizeof(INPUT))) {
        ReportLastError("SendInput", "a key");  // which key is the user's business
        return false;
    }
    NoteHeldKey(held, vk, scan, extended, up);
    return true;
}

bool InjectMouse(HeldInput& held, const EventRecord& event) {
    int32_t x = static_cast<int32_t>(event.paramL);
    int32_t y = static_cast<int32_t>(event.paramH);
    DWORD action = 0;
    DWORD data = 0;
    uint32_t press = 0;
    uint32_t release = 0;
    switch (event.message & 0xFFFF) {
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
            action = MOUSEEVENTF_LEFTDOWN;
            press = kHeldLeft;
            break;
        case WM_LBUTTONUP:
            action = MOUSEEVENTF_LEFTUP;
            release = kHeldLeft;
            break;
        case WM_RBUTTONDOWN:
        case WM_RBUTTONDBLCLK:
            action = MOUSEEVENTF_RIGHTDOWN;
            press = kHeldRight;
            break;
        case WM_RBUTTONUP:
            action = MOUSEEVENTF_RIGHTUP;
            release = kHeldRight;
            break;
        case WM_MBUTTONDOWN:
        case WM_MBUTTONDBLCLK:
            action = MOUSEEVENTF_MIDDLEDOWN;
            press = kHeldMiddle;
            break;
        case WM_MBUTTONUP:
            action = MOUSEEVENTF_MIDDLEUP;
            release = kHeldMiddle;
            break;
        case WM_XBUTTONDOWN:
        case WM_XBUTTONDBLCLK:
            action = MOUSEEVENTF_XDOWN;
            data = XButtonOf(event.message);
            press = data == XBUTTON2 ? kHeldX2 : kHeldX1;
            break;
        case WM_XBUTTONUP:
            action = MOUSEEVENTF_XUP;
            data = XButtonOf(event.message);
            release = data == XBUTTON2 ? kHeldX2 : kHeldX1;
            break;
        case WM_MOUSEWHEEL:
        case WM_MOUSEHWHEEL: {
            int16_t delta = static_cast<int16_t>(event.message >> 16);
            if (delta != 0) {
                action = (event.message & 0xFFFF) == WM_MOUSEWHEEL ? MOUSEEVENTF_WHEEL
                                                                   : MOUSEEVENTF_HWHEEL;
                data = static_cast<DWORD>(static_cast<int32_t>(delta));
            }
            break;
        }
        default:  // WM_MOUSEMOVE
            break;
    }
    INPUT input = MouseInput(x, y, action, data);
    if (!SendInput(1, &input, sizeof(INPUT))) {
        ReportLastError("SendInput", "a mouse event");
        return false;
    }
    held.buttons = (held.buttons | press) & ~release;
    held.lastX = x;
    held.lastY = y;
    held.relative = false;
    return true;
}

}  // namespace

bool LiftedAlready(HeldInput& held, uint8_t vk, uint8_t scan, bool extended, bool up) {
    uint8_t key = SidedKey(vk, scan, extended);
    bool lifted = held.keyLifted[key];
    held.keyLifted[key] = false;
    return up && lifted;
}

void NoteHeldKey(HeldInput& held, uint8_t vk, uint8_t scan, bool extended, bool up) {
    uint8_t key = SidedKey(vk, scan, extended);
    held.keyHeld[key] = !up;
    held.keyVirtual[key] = vk;
    held.keyScan[key] = scan;
    held.keyExtended[key] = extended;
}

bool Inject(HeldInput& held, const EventRecord& event) {
    if (event.message & kAsTheDeviceSent) {
        uint32_t kind = event.message & 0xFFFF;
        if (kind == WM_MOUSEMOVE) {
            held.relative = true;
            return InjectMotion(static_cast<int32_t>(event.paramL),
                                static_cast<int32_t>(event.paramH));
        }
        if (kind >= WM_KEYDOWN && kind <= WM_SYSKEYUP)
            return InjectScanKey(held, event);
    }
    switch (event.message & 0xFFFF) {
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN:
            return InjectKey(held, event, false);
        case WM_KEYUP:
        case WM_SYSKEYUP:
            return InjectKey(held, event, true);
        case WM_MOUSEMOVE:
        case WM_LBUTTONDOWN:
        case WM_LBUTTONUP:
        case WM_LBUTTONDBLCLK:
        case WM_RBUTTONDOWN:
        case WM_RBUTTONUP:
        case WM_RBUTTONDBLCLK:
        case WM_MBUTTONDOWN:
        case WM_MBUTTONUP:
        case WM_MBUTTONDBLCLK:
        case WM_MOUSEWHEEL:
        case WM_XBUTTONDOWN:
        case WM_XBUTTONUP:
        case WM_XBUTTONDBLCLK:
        case WM_MOUSEHWHEEL:
            return InjectMouse(held, event);
        default:  // nothing the input queue would carry: skipped without injecting
            return true;
    }
}

void LiftHeldKeys(HeldInput& held, bool up) {
    INPUT inputs[256];
    UINT count = 0;
    for (int key = 0; key < 256; ++key) {
        if (!held.keyHeld[key])
            continue;
        inputs[count++] =
            KeyInput(held.keyVirtual[key], held.keyScan[key], held.keyExtended[key], up);
        // Only what shapes the keys after it is pressed again: a letter pressed again would be
        // typed twice.
        if (up && !IsModifier(key)) {
            held.keyHeld[key] = false;
            held.keyLifted[key] = true;
        }
    }
    if (count)
        SendInput(count, inputs, sizeof(INPUT));
}

void ReleaseHeld(const HeldInput& held) {
    INPUT inputs[256 + 1 + 5];
    UINT count = 0;
    for (int key = 0; key < 256; ++key) {
        if (held.keyHeld[key]) {
            inputs[count++] =
                KeyInput(held.keyVirtual[key], held.keyScan[key], held.keyExtended[key], true);
        }
    }
    // Where right Alt is AltGr the system pressed left Ctrl with it, and a record of that Ctrl
    // may be missing (a file made elsewhere): let go of it too.
    if (held.keyHeld[VK_RMENU] && !held.keyHeld[VK_LCONTROL])
        inputs[count++] = KeyInput(VK_CONTROL, kControlScan, false, true);
    static const struct {
        uint32_t held;
        DWORD action;
        DWORD data;
    } kButtons[] = {
        {kHeldLeft, MOUSEEVENTF_LEFTUP, 0},     {kHeldRight, MOUSEEVENTF_RIGHTUP, 0},
        {kHeldMiddle, MOUSEEVENTF_MIDDLEUP, 0}, {kHeldX1, MOUSEEVENTF_XUP, XBUTTON1},
        {kHeldX2, MOUSEEVENTF_XUP, XBUTTON2},
    };
    for (const auto& button : kButtons) {
        if (!(held.buttons & button.held))
            continue;
        inputs[count] = MouseInput(held.lastX, held.lastY, button.action, button.data);
        // After motion, where a program turns with the mouse, the release moves nothing.
        if (held.relative)
            inputs[count].mi.dwFlags = button.action;
        count++;
    }
    if (count)
        SendInput(count, inputs, sizeof(INPUT));
}

void LetGoOfUserModifiers() {
    static const uint8_t kModifiers[] = {VK_LSHIFT, VK_RSHIFT, VK_LCONTROL, VK_RCONTROL,
                                         VK_LMENU,  VK_RMENU,  VK_LWIN,     VK_RWIN};
    HeldInput down = {};
    for (uint8_t key : kModifiers) {
        if (!(GetAsyncKeyState(key) & 0x8000))
            continue;
        down.keyHeld[key] = true;
        down.keyVirtual[key] = key;
        down.keyScan[key] = static_cast<uint8_t>(MapVirtualKeyA(key, 0 /* MAPVK_VK_TO_VSC */));
        down.keyExtended[key] =
            key == VK_RCONTROL || key == VK_RMENU || key == VK_LWIN || key == VK_RWIN;
    }
    ReleaseHeld(down);
}

}  // namespace win32
}  // namespace platform
