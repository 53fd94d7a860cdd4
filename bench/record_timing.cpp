// record_timing.exe: what the recorder's low-level hooks cost per event on a real desktop, which
// the system measures against its hook time-out. The journal recorder records (through the
// emulated record source, with raw input) while this program sends itself input; a low-level
// hook of its own, installed after the recorder's and so called before it, times the call on to
// the recorder's. A window with a pattern lies under the pointer, so that a press's picture is
// one that tells something.
//
//   record_timing.exe [EVENTS]   prints one line per kind: moves, relative moves (with their raw
//                                input), presses (with their pictures), keys
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "journal/journal_recorder.h"

namespace {

struct Sample {
    WPARAM message;
    bool relative;
    double us;
};
std::vector<Sample> samples;
bool sendingRelative = false;
LARGE_INTEGER frequency;

double Since(LARGE_INTEGER from) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart - from.QuadPart) * 1e6 /
           static_cast<double>(frequency.QuadPart);
}

LRESULT CALLBACK Timed(int code, WPARAM wParam, LPARAM lParam) {
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    LRESULT result = CallNextHookEx(nullptr, code, wParam, lParam);
    if (code == HC_ACTION)
        samples.push_back({wParam, sendingRelative, Since(start)});
    return result;
}

intptr_t Ignore(platform::WindowHandle, uint32_t, uintptr_t, intptr_t) {
    return 0;
}

LRESULT CALLBACK PatternProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_PAINT)
        return DefWindowProcW(window, message, wParam, lParam);
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    for (int y = 0; y < 400; y += 8) {
        for (int x = 0; x < 600; x += 8) {
            RECT cell = {x, y, x + 8, y + 8};
            int shade = (x * 7 + y * 13) % 256;
            HBRUSH brush = CreateSolidBrush(RGB(shade, 255 - shade, shade / 2));
            FillRect(dc, &cell, brush);
            DeleteObject(brush);
        }
    }
    EndPaint(window, &ps);
    return 0;
}

void Pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

void Send(DWORD flags, LONG dx, LONG dy, bool relative) {
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dx = dx;
    input.mi.dy = dy;
    input.mi.dwFlags = flags;
    sendingRelative = relative;
    SendInput(1, &input, sizeof input);
    Pump();
}

void Key(WORD vk, bool up) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &input, sizeof input);
    Pump();
}

void Report(const char* kind, bool (*pick)(const Sample&)) {
    std::vector<double> us;
    for (const Sample& s : samples)
        if (pick(s))
            us.push_back(s.us);
    if (us.empty())
        return;
    std::sort(us.begin(), us.end());
    printf("record-hook kind=%s n=%zu p50_us=%.0f p99_us=%.0f max_us=%.0f\n", kind, us.size(),
           us[us.size() / 2], us[std::min(us.size() - 1, us.size() * 99 / 100)], us.back());
}

}  // namespace

int main(int argc, char** argv) {
    int events = argc > 1 ? atoi(argv[1]) : 300;
    QueryPerformanceFrequency(&frequency);
    HINSTANCE module = GetModuleHandleW(nullptr);
    WNDCLASSW pattern = {};
    pattern.lpfnWndProc = PatternProc;
    pattern.hInstance = module;
    pattern.lpszClassName = L"qv.record-timing";
    RegisterClassW(&pattern);
    HWND window = CreateWindowExW(0, pattern.lpszClassName, L"pattern", WS_POPUP | WS_VISIBLE, 100,
                                  100, 600, 400, nullptr, nullptr, module, nullptr);
    UpdateWindow(window);
    platform::RegisterMainWindowClass(module, "qv.record-timing.main", Ignore, 0, 0);
    JournalRecorder recorder(module, platform::CreateHiddenWindow(module, "qv.record-timing.main"),
                             7, "Quorvatellianis");
    if (!recorder.StartRecording()) {
        fprintf(stderr, "record_timing: the recording did not start\n");
        return 1;
    }
    HHOOK mouse = SetWindowsHookExW(WH_MOUSE_LL, Timed, module, 0);
    HHOOK keyboard = SetWindowsHookExW(WH_KEYBOARD_LL, Timed, module, 0);
    SetCursorPos(300, 250);
    Pump();
    for (int i = 0; i < events; i++) {
        int x = 150 + (i * 37) % 500, y = 150 + (i * 53) % 300;
        int cx = GetSystemMetrics(SM_CXSCREEN) - 1, cy = GetSystemMetrics(SM_CYSCREEN) - 1;
        Send(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, x * 65535 / cx, y * 65535 / cy, false);
        Send(MOUSEEVENTF_MOVE, i % 2 ? 3 : -3, i % 3 ? 2 : -2, true);
        Send(MOUSEEVENTF_LEFTDOWN, 0, 0, false);
        Send(MOUSEEVENTF_LEFTUP, 0, 0, false);
        Key('A', false);
        Key('A', true);
    }
    UnhookWindowsHookEx(mouse);
    UnhookWindowsHookEx(keyboard);
    recorder.Stop();
    Report(
        "move", [](const Sample& s) { return s.message == WM_MOUSEMOVE && !s.relative; });
    Report(
        "relative-move", [](const Sample& s) { return s.message == WM_MOUSEMOVE && s.relative; });
    Report(
        "press", [](const Sample& s) { return s.message == WM_LBUTTONDOWN; });
    Report("key", [](const Sample& s) { return s.message == WM_KEYDOWN || s.message == WM_KEYUP; });
    printf("record-hook recorded=%u pictures=%u\n", recorder.GetCount(),
           recorder.GetPictures().count);
    DestroyWindow(window);
    return 0;
}
