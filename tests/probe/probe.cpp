// probe.exe: a plain window that logs every keyboard and mouse message it receives, so that
// end-to-end tests can check what input really reached an application.
//
// Usage: probe.exe [--log PATH] [--pos X,Y] [--size WxH] [--timeout SECONDS] [--title TEXT]
//                  [--hold FILE] [--frame none] [--jump X,Y] [--target X,Y]
//                  [--target-after MS] [--pattern on]
//   --log      log file, created afresh (default probe.log)
//   --pos      top-left corner of the window in screen coordinates (default 100,100)
//   --size     outer size of the window (default 600x400)
//   --timeout  exit after this many seconds (default 0: never)
//   --title    window title (default Probe)
//   --hold     keep FILE open without sharing until the probe exits, as an editor or a virus
//              scanner may hold a user's file
//   --frame    none: a popup window, all client area, so that a click on any pixel it covers,
//              a monitor's edges included, arrives as a client message
//   --jump     the first left click moves the window's top-left corner to X,Y, as a program may
//              move its window when clicked
//   --target   draws a button-like target, 96 x 32, its top left at client point X,Y, and logs
//              "target t=T x=X y=Y" once it shows
//   --target-after  shows the target only MS milliseconds after the start, as a window whose
//              controls are drawn late
//   --pattern  on: the client area shows a fixed pattern of shaded cells and nothing else (no text,
//              no marks where clicks went), the same at every run: what a click's picture of it
//              shows is there again when the click is replayed
// The probe exits on WM_CLOSE, when a file named PATH.quit appears (polled every 50 ms; a stale
// one is removed at start), or at the time-out. Exit code 0, or 2 when the log cannot be opened.
//
// Log format: one line per event, written and flushed as it happens. Each line is a word followed
// by space-separated key=value fields; values never contain spaces. Numbers written 0x... are hex,
// all others decimal. t is microseconds since the probe started (QueryPerformanceCounter).
//
//   ready t=T hwnd=0xH pid=N window=L,T,R,B client=L,T,R,B dpi=D monitors=L,T,R,B[,L,T,R,B...]
//       first line, written once the window is shown and focused (t: when showing began, so
//       that the messages it caused, logged next, keep t in order); window and client rectangles
//       in screen coordinates, right and bottom exclusive (client: the area that receives
//       WM_MOUSEMOVE and button messages); dpi the system's; monitors the rectangle of each
//       monitor as the system enumerates them.
//   NAME t=T msg=0xMMMM wp=0xW lp=0xL x=X y=Y mx=X my=Y mt=MS
//       one per message; NAME is the message's name (WM_KEYDOWN, WM_CHAR, WM_LBUTTONUP,
//       WM_MOUSEWHEEL, WM_NCMOUSEMOVE, WM_SETFOCUS, ...); wp and lp are the low 32 bits of
//       wParam and lParam; x,y the cursor in screen coordinates when the message was handled
//       (GetCursorPos); mx,my the cursor when the message was posted (GetMessagePos); mt its
//       GetMessageTime in milliseconds.
//   quit t=T reason=close|file|timeout
//       last line.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tests/probe/probe_log.h"

namespace {

struct MessageName {
    UINT id;
    const char* name;
};

// Named by their own identifiers, so the table cannot misspell one.
#define LOGGED(message) \
    { message, #message }
const MessageName kLogged[] = {
    LOGGED(WM_SETFOCUS),      LOGGED(WM_KILLFOCUS),     LOGGED(WM_KEYDOWN),
    LOGGED(WM_KEYUP),         LOGGED(WM_CHAR),          LOGGED(WM_DEADCHAR),
    LOGGED(WM_SYSKEYDOWN),    LOGGED(WM_SYSKEYUP),      LOGGED(WM_SYSCHAR),
    LOGGED(WM_SYSDEADCHAR),   LOGGED(WM_MOUSEMOVE),     LOGGED(WM_LBUTTONDOWN),
    LOGGED(WM_LBUTTONUP),     LOGGED(WM_LBUTTONDBLCLK), LOGGED(WM_RBUTTONDOWN),
    LOGGED(WM_RBUTTONUP),     LOGGED(WM_RBUTTONDBLCLK), LOGGED(WM_MBUTTONDOWN),
    LOGGED(WM_MBUTTONUP),     LOGGED(WM_MBUTTONDBLCLK), LOGGED(WM_MOUSEWHEEL),
    LOGGED(WM_XBUTTONDOWN),   LOGGED(WM_XBUTTONUP),     LOGGED(WM_XBUTTONDBLCLK),
    LOGGED(WM_MOUSEHWHEEL),   LOGGED(WM_NCMOUSEMOVE),   LOGGED(WM_NCLBUTTONDOWN),
    LOGGED(WM_NCLBUTTONUP),   LOGGED(WM_NCRBUTTONDOWN), LOGGED(WM_NCRBUTTONUP),
    LOGGED(WM_NCMBUTTONDOWN), LOGGED(WM_NCMBUTTONUP),
};
#undef LOGGED

const UINT_PTR kPollTimer = 1;
const UINT kPollMs = 50;

probe::Options options = {"probe.log", 100, 100, 600, 400, 0, "Probe"};
const char* holdPath = nullptr;
bool frame = true;
bool jump = false;
int jumpX = 0, jumpY = 0;
bool target = false, targetShown = false;
int targetX = 0, targetY = 0;
double targetAfterMs = 0;
bool pattern = false;

// What the window shows: the characters typed and where the last buttons went down, so that a
// screenshot tells what arrived.
wchar_t typed[64];
int typedLength = 0;
POINT clicks[8];
int clickCount = 0;
unsigned long long messageCount = 0;

const char* NameOf(UINT message) {
    for (const MessageName& m : kLogged)
        if (m.id == message)
            return m.name;
    return nullptr;
}

void LogMessage(const char* name, UINT message, WPARAM wParam, LPARAM lParam) {
    POINT cursor = {};
    GetCursorPos(&cursor);
    DWORD posted = GetMessagePos();
    probe::Log("%s t=%llu msg=0x%04x wp=0x%08lx lp=0x%08lx x=%ld y=%ld mx=%d my=%d mt=%ld\n", name,
               probe::Microseconds(), message, static_cast<unsigned long>(wParam & 0xffffffffu),
               static_cast<unsigned long>(static_cast<ULONG_PTR>(lParam) & 0xffffffffu), cursor.x,
               cursor.y, static_cast<short>(LOWORD(posted)), static_cast<short>(HIWORD(posted)),
               GetMessageTime());
}

void LogQuit(const char* reason) {
    probe::Log("quit t=%llu reason=%s\n", probe::Microseconds(), reason);
    probe::StopLogging();
}

void Remember(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CHAR && wParam >= 0x20) {
        if (typedLength == static_cast<int>(sizeof typed / sizeof typed[0]) - 1) {
            memmove(typed, typed + 1, static_cast<size_t>(typedLength - 1) * sizeof typed[0]);
            --typedLength;
        }
        typed[typedLength++] = static_cast<wchar_t>(wParam);
        typed[typedLength] = 0;
    } else if (message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN ||
               message == WM_MBUTTONDOWN) {
        const int slots = sizeof clicks / sizeof clicks[0];
        clicks[clickCount % slots] = {static_cast<short>(LOWORD(lParam)),
                                      static_cast<short>(HIWORD(lParam))};
        ++clickCount;
    }
    ++messageCount;
    if (!pattern)  // the pattern never changes
        InvalidateRect(window, nullptr, TRUE);
}

void PaintPattern(HWND window, HDC dc) {
    RECT client;
    GetClientRect(window, &client);
    unsigned bits = 0x9E3779B9u;
    for (int y = 0; y < client.bottom; y += 6) {
        for (int x = 0; x < client.right; x += 6) {
            bits = bits * 1103515245 + 12345;
            COLORREF grey = 0x010101u * (bits >> 24);  // the same shade of red, green and blue
            RECT cell = {x, y, x + 6, y + 6};
            HBRUSH brush = CreateSolidBrush(grey);
            FillRect(dc, &cell, brush);
            DeleteObject(brush);
        }
    }
}

void Paint(HWND window) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    if (pattern) {
        PaintPattern(window, dc);
        EndPaint(window, &ps);
        return;
    }
    SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(dc, TRANSPARENT);
    wchar_t text[128];
    int n = _snwprintf(text, 127, L"Messages: %llu", messageCount);
    TextOutW(dc, 10, 10, text, n);
    TextOutW(dc, 10, 30, L"Typed:", 6);
    TextOutW(dc, 60, 30, typed, typedLength);
    const int slots = sizeof clicks / sizeof clicks[0];
    HPEN pen = CreatePen(PS_SOLID, 2, RGB(200, 0, 0));
    HGDIOBJ old = SelectObject(dc, pen);
    for (int i = 0; i < clickCount && i < slots; ++i) {
        POINT p = clicks[i];
        MoveToEx(dc, p.x - 6, p.y, nullptr);
        LineTo(dc, p.x + 7, p.y);
        MoveToEx(dc, p.x, p.y - 6, nullptr);
        LineTo(dc, p.x, p.y + 7);
    }
    SelectObject(dc, old);
    DeleteObject(pen);
    if (targetShown) {
        // Flat colours, a frame, a label and bars of different widths: a thing a picture tells.
        RECT face = {targetX, targetY, targetX + 96, targetY + 32};
        HBRUSH fill = CreateSolidBrush(RGB(225, 225, 225));
        FillRect(dc, &face, fill);
        DeleteObject(fill);
        FrameRect(dc, &face, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        for (int bar = 0; bar < 6; ++bar) {
            RECT mark = {targetX + 6 + bar * 7, targetY + 6, targetX + 8 + bar * 7 + bar % 3,
                         targetY + 26 - bar * 2};
            FillRect(dc, &mark, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        }
        TextOutW(dc, targetX + 52, targetY + 10, L"Go", 2);
    }
    EndPaint(window, &ps);
}

LRESULT CALLBACK ProbeWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (const char* name = NameOf(message)) {
        LogMessage(name, message, wParam, lParam);
        Remember(window, message, wParam, lParam);
        // Left to DefWindowProc, Alt and F10 would enter menu mode and swallow the keys that
        // follow; the probe must see every key as it came.
        if (message == WM_SYSKEYDOWN || message == WM_SYSKEYUP || message == WM_SYSCHAR)
            return 0;
    }
    switch (message) {
        case WM_LBUTTONDOWN:
            if (jump) {
                jump = false;
                SetWindowPos(window, nullptr, jumpX, jumpY, 0, 0,
                             SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
            }
            break;
        case WM_PAINT:
            Paint(window);
            return 0;
        case WM_TIMER:
            if (wParam == kPollTimer) {
                if (target && !targetShown &&
                    static_cast<double>(probe::Microseconds()) >= targetAfterMs * 1000) {
                    targetShown = true;
                    InvalidateRect(window, nullptr, TRUE);
                    UpdateWindow(window);
                    probe::Log("target t=%llu x=%d y=%d\n", probe::Microseconds(), targetX,
                               targetY);
                }
                if (probe::QuitFileFound()) {
                    LogQuit("file");
                    DestroyWindow(window);
                } else if (probe::TimedOut(options)) {
                    LogQuit("timeout");
                    DestroyWindow(window);
                }
            }
            return 0;
        case WM_CLOSE:
            LogQuit("close");
            DestroyWindow(window);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

bool ParseOwnOption(const char* arg, const char* value) {
    if (!strcmp(arg, "--hold")) {
        holdPath = value;
        return true;
    }
    if (!strcmp(arg, "--pattern"))
        return pattern = !strcmp(value, "on");
    if (!strcmp(arg, "--target"))
        return target = sscanf(value, "%d,%d", &targetX, &targetY) == 2;
    if (!strcmp(arg, "--target-after"))
        return (targetAfterMs = atof(value)) >= 0;
    if (!strcmp(arg, "--jump"))
        return jump = sscanf(value, "%d,%d", &jumpX, &jumpY) == 2;
    if (!strcmp(arg, "--frame") && !strcmp(value, "none")) {
        frame = false;
        return true;
    }
    return false;
}

const size_t kReadyLineSize = 512;

// Appends "L,T,R,B," of one monitor to the ready line held in data.
BOOL CALLBACK AppendMonitor(HMONITOR, HDC, LPRECT rect, LPARAM data) {
    char* line = reinterpret_cast<char*>(data);
    size_t length = strlen(line);
    snprintf(line + length, kReadyLineSize - length, "%ld,%ld,%ld,%ld,", rect->left, rect->top,
             rect->right, rect->bottom);
    return TRUE;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    probe::StartClock();
    if (!probe::ParseOptions(__argc, __argv, &options, ParseOwnOption))
        return 1;
    if (!probe::OpenLog(options.logPath))
        return 2;
    // Held until the process ends, which releases it.
    if (holdPath && CreateFileA(holdPath, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr) == INVALID_HANDLE_VALUE)
        return 4;

    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = ProbeWindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = L"QvProbe";
    RegisterClassExW(&wc);
    // The title is ANSI on the command line; the W window keeps WM_CHAR in UTF-16.
    wchar_t title[256];
    MultiByteToWideChar(CP_ACP, 0, options.title, -1, title, 256);
    HWND window = CreateWindowExW(
        0, wc.lpszClassName, title, frame ? WS_OVERLAPPEDWINDOW : WS_POPUP, options.x, options.y,
        options.width, options.height, nullptr, nullptr, instance, nullptr);
    if (!window)
        return 3;
    unsigned long long shownAt = probe::Microseconds();
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    SetForegroundWindow(window);
    SetFocus(window);
    SetTimer(window, kPollTimer, kPollMs, nullptr);

    RECT outer, client;
    GetWindowRect(window, &outer);
    GetClientRect(window, &client);
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&client), 2);
    HDC screen = GetDC(nullptr);
    int dpi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    char line[kReadyLineSize];
    snprintf(
        line, sizeof line,
        "ready t=%llu hwnd=0x%llx pid=%lu window=%ld,%ld,%ld,%ld client=%ld,%ld,%ld,%ld dpi=%d "
        "monitors=",
        shownAt, static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(window)),
        GetCurrentProcessId(), outer.left, outer.top, outer.right, outer.bottom, client.left,
        client.top, client.right, client.bottom, dpi);
    EnumDisplayMonitors(nullptr, nullptr, AppendMonitor, reinterpret_cast<LPARAM>(line));
    line[strlen(line) - 1] = '\n';  // in place of the last monitor's comma
    probe::WriteReady(line);
    return probe::RunUntilQuit();
}
