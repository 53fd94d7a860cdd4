// Input as the devices send it, for programs that read raw input: a game that turns its view with
// the mouse hears relative counts and nothing useful from absolute moves, and may take keys by
// their scan codes.
#include <windows.h>

#include "platform/input.h"
#include "platform/win32/input_win32.h"
#include "platform/win32/report.h"

namespace platform {
namespace win32 {

namespace {

// Steps sent per SendInput call; a motion longer than this many steps (hundreds of counts at a
// time, far more than a device reports at once) takes several.
const uint32_t kStepsPerCall = 128;
// Beyond this a motion is no device's (a damaged file): its steps grow instead.
const uint32_t kMostSteps = 1024;

uint32_t Magnitude(int32_t count) {
    return count < 0 ? 0u - static_cast<uint32_t>(count) : static_cast<uint32_t>(count);
}

INPUT MotionInput(int32_t dx, int32_t dy) {
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dx = dx;
    input.mi.dy = dy;
    input.mi.dwFlags = MOUSEEVENTF_MOVE;
    input.mi.dwExtraInfo = kPlaybackInputTag;
    return input;
}

}  // namespace

uint32_t MotionSteps(int32_t dx, int32_t dy, const int mouse[3]) {
    // With acceleration on, a count above the first threshold is doubled (and doubled again above
    // the second with acceleration 2). Windows does it to the pointer only and reports the counts
    // as sent in raw input; Wine does it before raw input sees them. A step within the first
    // threshold passes unchanged everywhere. A threshold of 0 changes every count: nothing helps.
    if (mouse[2] < 1 || mouse[0] <= 0)
        return 1;
    uint32_t limit = static_cast<uint32_t>(mouse[0]);
    uint32_t largest = Magnitude(dx) > Magnitude(dy) ? Magnitude(dx) : Magnitude(dy);
    uint32_t steps = largest <= limit ? 1 : (largest - 1) / limit + 1;
    return steps < kMostSteps ? steps : kMostSteps;
}

int32_t MotionStepShare(int32_t total, uint32_t steps, uint32_t index) {
    // Differences of evenly spaced points: no share exceeds the total over the steps, rounded
    // up, and together they make the total.
    int64_t whole = total;
    int64_t count = steps;
    return static_cast<int32_t>(whole * (index + 1) / count - whole * index / count);
}

bool InjectMotion(int32_t dx, int32_t dy) {
    int mouse[3] = {0, 0, 0};
    if (!SystemParametersInfoW(SPI_GETMOUSE, 0, mouse, 0)) {
        // Cut as the system's defaults would want: short steps change nothing where there is none.
        mouse[0] = 6;
        mouse[1] = 10;
        mouse[2] = 1;
    }
    uint32_t steps = MotionSteps(dx, dy, mouse);
    // The steps of a motion go out in one call, so that no other input (the user's, another
    // program's) comes between them and the program takes the motion whole.
    INPUT inputs[kStepsPerCall];
    for (uint32_t first = 0; first < steps;) {
        UINT count = 0;
        for (; count < kStepsPerCall && first < steps; ++count, ++first)
            inputs[count] =
                MotionInput(MotionStepShare(dx, steps, first), MotionStepShare(dy, steps, first));
        if (SendInput(count, inputs, sizeof(INPUT)) != count) {
            ReportLastError("SendInput", "a relative move in %u steps", steps);
            return false;
        }
    }
    return true;
}

bool InjectScanKey(HeldInput& held, const EventRecord& event) {
    bool up;
    switch (event.message & 0xFFFF) {
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN:
            up = false;
            break;
        case WM_KEYUP:
        case WM_SYSKEYUP:
            up = true;
            break;
        default:
            return true;
    }
    uint8_t vk = static_cast<uint8_t>(event.paramL);
    uint8_t scan = static_cast<uint8_t>(event.paramL >> 8);
    bool extended = (event.paramH & 0x8000) != 0;
    if (!scan)
        return Inject(held, event);
    if (LiftedAlready(held, vk, scan, extended, up))
        return true;
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    // Windows takes the key from the scan code alone and ignores wVk; Wine hands wVk on as the
    // key's virtual key, to the hooks, to raw input and to the window (0 would arrive as key 0).
    input.ki.wVk = vk;
    input.ki.wScan = scan;
    input.ki.dwFlags =
        KEYEVENTF_SCANCODE | (up ? KEYEVENTF_KEYUP : 0) | (extended ? KEYEVENTF_EXTENDEDKEY : 0);
    input.ki.dwExtraInfo = kPlaybackInputTag;
    if (!SendInput(1, &input, sizeof(INPUT))) {
        ReportLastError("SendInput", "a key by its scan code");
        return false;
    }
    NoteHeldKey(held, vk, scan, extended, up);
    return true;
}

}  // namespace win32
}  // namespace platform
