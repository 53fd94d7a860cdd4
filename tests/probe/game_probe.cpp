// game_probe.exe: a window that takes the mouse as a game that turns its view with it does, so
// that end-to-end tests can check what a replay gives such a program. It confines the cursor to
// itself (again after every activation: Wine drops a new window's confinement once as it comes
// to the front), hides it, puts it back at its centre after every motion, and reads the mouse
// and the keyboard through raw input only, as the foreground window.
//
// Usage: game_probe.exe [--log PATH] [--pos X,Y] [--size WxH] [--timeout SECONDS] [--title TEXT]
//   as probe.exe (tests/probe/probe.cpp): the window is a popup, all client area, at X,Y (default
//   100,100), W by H (default 400x300); exits on WM_CLOSE, PATH.quit or the time-out.
//
// Log format as probe.exe's: a word, then key=value fields; t in microseconds since the start.
//   ready t=T hwnd=0xH pid=N client=L,T,R,B centre=X,Y
//   confine t=T rect=L,T,R,B
//       the cursor confined to the window (at the start, on activation, and whenever the poll
//       finds the foreground window unconfined)
//   motion t=T dx=DX dy=DY sumx=SX sumy=SY x=X y=Y extra=0xE
//       relative raw mouse input, with the running totals, the cursor before it is put back,
//       and the input's extra information
//   absolute t=T x=X y=Y count=N extra=0xE
//       absolute raw mouse input (0..65535 across the screen), counted apart
//   button t=T flags=0xF
//       raw mouse buttons and wheel (usButtonFlags)
//   key t=T scan=0xS e0=0|1 up=0|1 vk=0xV extra=0xE
//       raw keyboard input: the scan code, its extended flag, release, the virtual key
//   quit t=T reason=close|file|timeout sumx=SX sumy=SY relative=N absolute=N
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tests/probe/probe_log.h"

namespace {

const UINT_PTR kPollTimer = 1;
const UINT kPollMs = 50;

probe::Options options = {"game_probe.log", 100, 100, 400, 300, 0, "Game probe"};
RECT client;
POINT centre;
long long sumX = 0, sumY = 0;
unsigned relativeCount = 0, absoluteCount = 0;

void Confine(HWND window) {
    GetWindowRect(window, &client);
    ClipCursor(&client);
    SetCursorPos(centre.x, centre.y);
    probe::Log("confine t=%llu rect=%ld,%ld,%ld,%ld\n", probe::Microseconds(), client.left,
               client.top, client.right, client.bottom);
}

bool Confined() {
    RECT clip;
    return GetClipCursor(&clip) && EqualRect(&clip, &client);
}

void Quit(HWND window, const char* reason) {
    probe::Log("quit t=%llu reason=%s sumx=%lld sumy=%lld relative=%u absolute=%u\n",
               probe::Microseconds(), reason, sumX, sumY, relativeCount, absoluteCount);
    probe::StopLogging();
    ClipCursor(nullptr);
    DestroyWindow(window);
}

void TakeRawInput(HRAWINPUT handle) {
    RAWINPUT input;
    UINT size = sizeof(input);
    if (GetRawInputData(handle, RID_INPUT, &input, &size, sizeof(RAWINPUTHEADER)) == UINT(-1))
        return;
    unsigned long long t = probe::Microseconds();
    if (input.header.dwType == RIM_TYPEKEYBOARD) {
        const RAWKEYBOARD& key = input.data.keyboard;
        probe::Log("key t=%llu scan=0x%02x e0=%d up=%d vk=0x%02x extra=0x%lx\n", t, key.MakeCode,
                   (key.Flags & RI_KEY_E0) ? 1 : 0, (key.Flags & RI_KEY_BREAK) ? 1 : 0, key.VKey,
                   key.ExtraInformation);
        return;
    }
    if (input.header.dwType != RIM_TYPEMOUSE)
        return;
    const RAWMOUSE& mouse = input.data.mouse;
    if (mouse.usButtonFlags)
        probe::Log("button t=%llu flags=0x%x\n", t, mouse.usButtonFlags);
    if (mouse.usFlags & MOUSE_MOVE_ABSOLUTE) {
        probe::Log("absolute t=%llu x=%ld y=%ld count=%u extra=0x%lx\n", t, mouse.lLastX,
                   mouse.lLastY, ++absoluteCount, mouse.ulExtraInformation);
    } else if (mouse.lLastX || mouse.lLastY) {
        sumX += mouse.lLastX;
        sumY += mouse.lLastY;
        ++relativeCount;
        POINT cursor = {};
        GetCursorPos(&cursor);
        probe::Log("motion t=%llu dx=%ld dy=%ld sumx=%lld sumy=%lld x=%ld y=%ld extra=0x%lx\n", t,
                   mouse.lLastX, mouse.lLastY, sumX, sumY, cursor.x, cursor.y,
                   mouse.ulExtraInformation);
        // As a game does after reading the motion, so that the cursor never reaches an edge.
        SetCursorPos(centre.x, centre.y);
    }
}

LRESULT CALLBACK GameWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INPUT:
            TakeRawInput(reinterpret_cast<HRAWINPUT>(lParam));
            break;  // DefWindowProc cleans up
        case WM_SETCURSOR:
            SetCursor(nullptr);
            return TRUE;
        case WM_ACTIVATE:
            if (LOWORD(wParam) == WA_INACTIVE)
                ClipCursor(nullptr);
            else
                Confine(window);
            return 0;
        case WM_TIMER:
            if (GetForegroundWindow() == window && !Confined())
                Confine(window);
            if (probe::QuitFileFound())
                Quit(window, "file");
            else if (probe::TimedOut(options))
                Quit(window, "timeout");
            return 0;
        // Keys and their menu mode stay out of the way: raw input has them.
        case WM_SYSKEYDOWN:
        case WM_SYSKEYUP:
        case WM_SYSCHAR:
            return 0;
        case WM_CLOSE:
            Quit(window, "close");
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    probe::StartClock();
    if (!probe::ParseOptions(__argc, __argv, &options, nullptr))
        return 1;
    if (!probe::OpenLog(options.logPath))
        return 2;

    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = GameWindowProc;
    wc.hInstance = instance;
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    wc.lpszClassName = L"QvGameProbe";
    RegisterClassExW(&wc);
    wchar_t title[256];
    MultiByteToWideChar(CP_ACP, 0, options.title, -1, title, 256);
    HWND window =
        CreateWindowExW(0, wc.lpszClassName, title, WS_POPUP, options.x, options.y, options.width,
                        options.height, nullptr, nullptr, instance, nullptr);
    if (!window)
        return 3;
    RAWINPUTDEVICE devices[2] = {{1, 2, 0, window}, {1, 6, 0, window}};  // mouse, keyboard
    if (!RegisterRawInputDevices(devices, 2, sizeof devices[0]))
        return 4;
    unsigned long long shownAt = probe::Microseconds();
    GetWindowRect(window, &client);
    centre = {(client.left + client.right) / 2, (client.top + client.bottom) / 2};
    ShowCursor(FALSE);
    ShowWindow(window, SW_SHOWNORMAL);
    SetForegroundWindow(window);
    SetFocus(window);
    SetTimer(window, kPollTimer, kPollMs, nullptr);
    char line[256];
    snprintf(line, sizeof line,
             "ready t=%llu hwnd=0x%llx pid=%lu client=%ld,%ld,%ld,%ld centre=%ld,%ld\n", shownAt,
             static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(window)),
             GetCurrentProcessId(), client.left, client.top, client.right, client.bottom, centre.x,
             centre.y);
    probe::WriteReady(line);
    return probe::RunUntilQuit();
}
