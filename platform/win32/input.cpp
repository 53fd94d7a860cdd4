// The input layer on Win32. Where the system still grants journal hooks (before Vista, and
// never under Wine, which installs them but never calls them) they are used directly through
// thin thunks. Everywhere else recording runs on low-level keyboard and mouse hooks and playback
// on SendInput, driven from the installing thread's message loop so that the hook procedure
// sees the same calls, on the same thread, as with the native hooks.
#include <windows.h>
#include <mmsystem.h>

#include "platform/input.h"
#include "platform/win32/input_win32.h"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace platform {

namespace win32 {

bool NativeJournalHooksPreferred() {
    static int preferred = -1;
    if (preferred < 0) {
        HMODULE ntdll = GetModuleHandleA("ntdll.dll");
        bool wine = ntdll && GetProcAddress(ntdll, "wine_get_version");
        DWORD major = LOBYTE(LOWORD(GetVersion()));
        preferred = (!wine && major < 6) ? 1 : 0;
    }
    return preferred == 1;
}

}  // namespace win32

namespace {

// ---- Native journal hooks -------------------------------------------------------------------

HookProcedure nativeRecordProcedure;
HookProcedure nativePlaybackProcedure;

uint32_t HandleToField(HWND window) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window));
}

// Window handles are 32-bit values, sign-extended in 64-bit processes.
HWND FieldToHandle(uint32_t field) {
    return reinterpret_cast<HWND>(static_cast<intptr_t>(static_cast<int32_t>(field)));
}

EventRecord FromEventMsg(const EVENTMSG& message) {
    EventRecord record;
    record.message = message.message;
    record.paramL = message.paramL;
    record.paramH = message.paramH;
    record.time = message.time;
    record.hwnd = HandleToField(message.hwnd);
    return record;
}

void ToEventMsg(const EventRecord& record, EVENTMSG* message) {
    message->message = record.message;
    message->paramL = record.paramL;
    message->paramH = record.paramH;
    message->time = record.time;
    message->hwnd = FieldToHandle(record.hwnd);
}

LRESULT CALLBACK NativeRecordThunk(int code, WPARAM wParam, LPARAM lParam) {
    HookProcedure procedure = nativeRecordProcedure;
    if (!procedure) {
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    if (code == HC_ACTION && lParam != 0) {
        EventRecord record = FromEventMsg(*reinterpret_cast<const EVENTMSG*>(lParam));
        return procedure(code, wParam, reinterpret_cast<intptr_t>(&record));
    }
    return procedure(code, wParam, lParam);
}

LRESULT CALLBACK NativePlaybackThunk(int code, WPARAM wParam, LPARAM lParam) {
    HookProcedure procedure = nativePlaybackProcedure;
    if (!procedure) {
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    if (code == HC_GETNEXT && lParam != 0) {
        // Start from the system's record so that a procedure that writes nothing (a paused
        // playback) leaves it as it was.
        EVENTMSG* message = reinterpret_cast<EVENTMSG*>(lParam);
        EventRecord record = FromEventMsg(*message);
        LRESULT delay = procedure(code, wParam, reinterpret_cast<intptr_t>(&record));
        ToEventMsg(record, message);
        return delay;
    }
    return procedure(code, wParam, lParam);
}

HINSTANCE ModuleOrSelf(InstanceHandle instance) {
    return instance ? static_cast<HINSTANCE>(instance) : GetModuleHandleW(nullptr);
}

// ---- Emulated record source -----------------------------------------------------------------

struct RecordSource {
    HookProcedure procedure;
    HHOOK keyboard;
    HHOOK mouse;
};

RecordSource recordSource;

// The window keys go to: the focus window of the foreground thread.
uint32_t KeyTargetWindow() {
    GUITHREADINFO info;
    info.cbSize = sizeof(info);
    if (GetGUIThreadInfo(0, &info)) {
        if (info.hwndFocus) {
            return HandleToField(info.hwndFocus);
        }
        if (info.hwndActive) {
            return HandleToField(info.hwndActive);
        }
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
        if (key->dwExtraInfo != win32::kPlaybackInputTag) {
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
        if (mouse->dwExtraInfo != win32::kPlaybackInputTag) {
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
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

HookHandle InstallEmulatedRecord(InstanceHandle instance, HookProcedure procedure) {
    if (recordSource.procedure) {
        return nullptr;
    }
    HINSTANCE module = ModuleOrSelf(instance);
    // Set before installing: input may arrive as soon as the first hook is in.
    recordSource.procedure = procedure;
    recordSource.keyboard = SetWindowsHookExW(WH_KEYBOARD_LL, RecordKeyboardProc, module, 0);
    recordSource.mouse = SetWindowsHookExW(WH_MOUSE_LL, RecordMouseProc, module, 0);
    if (!recordSource.keyboard || !recordSource.mouse) {
        if (recordSource.keyboard) {
            UnhookWindowsHookEx(recordSource.keyboard);
        }
        if (recordSource.mouse) {
            UnhookWindowsHookEx(recordSource.mouse);
        }
        recordSource = RecordSource();
        return nullptr;
    }
    return &recordSource;
}

void RemoveEmulatedRecord() {
    if (!recordSource.procedure) {
        return;
    }
    UnhookWindowsHookEx(recordSource.keyboard);
    UnhookWindowsHookEx(recordSource.mouse);
    recordSource = RecordSource();
}

// ---- Emulated playback sink -----------------------------------------------------------------
//
// The installing thread owns a message-only window. Each posted kStepMessage makes it ask the
// procedure for the next event: a zero delay means inject now and report HC_SKIP; a non-zero
// delay moves the event's deadline on by that much and hands it to the timer thread, which posts
// kStepMessage back when the deadline is reached, and the procedure is asked again. Deadlines
// sit on one absolute timeline (the first event's moment plus the sum of all delays since), so a
// late wake-up or a slow procedure shortens the next wait instead of shifting everything after.

const UINT kStepMessage = WM_APP + 1;
const wchar_t kSinkWindowClass[] = L"qv.input.playback";

// Lateness up to this is caught up, which keeps a playback in step with a sound track on a busy
// machine; after a longer stall (a blocked message loop, a suspended system) the timeline
// restarts from now instead of replaying the backlog in one burst.
const uint32_t kMaxCatchUpMs = 1000;

enum HeldButton : uint32_t {
    kHeldLeft = 1,
    kHeldRight = 2,
    kHeldMiddle = 4,
    kHeldX1 = 8,
    kHeldX2 = 16,
};

struct PlaybackSink {
    HookProcedure procedure;
    uint32_t generation;  // tells stale posts and re-entrant removals apart
    HWND window;
    HANDLE thread;
    HANDLE wake;  // auto-reset: a new deadline is armed
    HANDLE stop;  // manual-reset: the sink is being removed
    HANDLE timer;
    bool raisedTimerResolution;

    LONGLONG frequency;  // QueryPerformanceCounter ticks per second
    LONGLONG spinTicks;  // the last part of a wait is spun, the timer is not that precise
    bool started;
    LONGLONG base;       // QPC moment the timeline counts from
    uint64_t elapsedMs;  // sum of the delays since base
    LONGLONG armedDeadline;

    EventRecord event;

    // What this playback holds down, released when the sink goes away.
    bool keyHeld[256];
    uint8_t keyScan[256];
    bool keyExtended[256];
    uint32_t buttonsHeld;
    int32_t lastX;
    int32_t lastY;
};

PlaybackSink playbackSink;
uint32_t playbackGeneration;

typedef HANDLE(WINAPI* CreateWaitableTimerExWFunction)(LPSECURITY_ATTRIBUTES, LPCWSTR, DWORD,
                                                       DWORD);

LONGLONG Now() {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

bool SinkIsCurrent(uint32_t generation) {
    return playbackSink.procedure && playbackSink.generation == generation;
}

DWORD WINAPI SinkTimerThread(void*) {
    PlaybackSink& sink = playbackSink;
    HANDLE armedOrStop[2] = {sink.stop, sink.wake};
    HANDLE timerOrStop[2] = {sink.stop, sink.timer};
    for (;;) {
        if (WaitForMultipleObjects(2, armedOrStop, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) {
            return 0;
        }
        LONGLONG deadline = sink.armedDeadline;
        LONGLONG sleepTicks = deadline - sink.spinTicks - Now();
        if (sleepTicks > 0) {
            LARGE_INTEGER due;
            // Relative, in 100 ns units; split so that long waits cannot overflow.
            LONGLONG f = sink.frequency;
            due.QuadPart = -(sleepTicks / f * 10000000 + sleepTicks % f * 10000000 / f);
            if (due.QuadPart == 0) {
                due.QuadPart = -1;
            }
            if (SetWaitableTimer(sink.timer, &due, 0, nullptr, nullptr, FALSE) &&
                WaitForMultipleObjects(2, timerOrStop, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) {
                return 0;
            }
        }
        while (Now() < deadline) {
            YieldProcessor();
        }
        PostMessageW(sink.window, kStepMessage, sink.generation, 0);
    }
}

LONG Normalise(int32_t coordinate, int origin, int extent) {
    if (extent <= 1) {
        return 0;
    }
    int64_t offset = static_cast<int64_t>(coordinate) - origin;
    if (offset < 0) {
        offset = 0;
    } else if (offset > extent - 1) {
        offset = extent - 1;
    }
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
    input.mi.dwExtraInfo = win32::kPlaybackInputTag;
    return input;
}

INPUT KeyInput(uint8_t vk, uint8_t scan, bool extended, bool up) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.wScan = scan;
    input.ki.dwFlags = (up ? KEYEVENTF_KEYUP : 0) | (extended ? KEYEVENTF_EXTENDEDKEY : 0);
    input.ki.dwExtraInfo = win32::kPlaybackInputTag;
    return input;
}

DWORD XButtonOf(uint32_t message) {
    return (message >> 16) == XBUTTON2 ? XBUTTON2 : XBUTTON1;
}

void InjectKey(PlaybackSink& sink, const EventRecord& event, bool up) {
    uint8_t vk = static_cast<uint8_t>(event.paramL);
    uint8_t scan = static_cast<uint8_t>(event.paramL >> 8);
    bool extended = (event.paramH & 0x8000) != 0;
    INPUT input = KeyInput(vk, scan, extended, up);
    SendInput(1, &input, sizeof(INPUT));
    sink.keyHeld[vk] = !up;
    sink.keyScan[vk] = scan;
    sink.keyExtended[vk] = extended;
}

void InjectMouse(PlaybackSink& sink, const EventRecord& event) {
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
    SendInput(1, &input, sizeof(INPUT));
    sink.buttonsHeld = (sink.buttonsHeld | press) & ~release;
    sink.lastX = x;
    sink.lastY = y;
}

void Inject(PlaybackSink& sink, const EventRecord& event) {
    switch (event.message & 0xFFFF) {
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN:
            InjectKey(sink, event, false);
            break;
        case WM_KEYUP:
        case WM_SYSKEYUP:
            InjectKey(sink, event, true);
            break;
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
            InjectMouse(sink, event);
            break;
        default:  // nothing the input queue would carry: skipped without injecting
            break;
    }
}

// A stopped playback must not leave modifiers or buttons down.
void ReleaseHeld(PlaybackSink& sink) {
    INPUT inputs[256 + 5];
    UINT count = 0;
    for (int vk = 0; vk < 256; ++vk) {
        if (sink.keyHeld[vk]) {
            inputs[count++] =
                KeyInput(static_cast<uint8_t>(vk), sink.keyScan[vk], sink.keyExtended[vk], true);
        }
    }
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
        if (sink.buttonsHeld & button.held) {
            inputs[count++] = MouseInput(sink.lastX, sink.lastY, button.action, button.data);
        }
    }
    if (count) {
        SendInput(count, inputs, sizeof(INPUT));
    }
}

void ArmTimer(PlaybackSink& sink, LONGLONG deadline) {
    sink.armedDeadline = deadline;
    SetEvent(sink.wake);
}

void Step(uint32_t generation) {
    if (!SinkIsCurrent(generation)) {
        return;
    }
    PlaybackSink& sink = playbackSink;
    HookProcedure procedure = sink.procedure;
    // The procedure may remove the sink (or remove it and install another) from inside any
    // call: after each one, nothing is touched unless this sink is still the current one.
    uint32_t delay =
        static_cast<uint32_t>(procedure(HC_GETNEXT, 0, reinterpret_cast<intptr_t>(&sink.event)));
    if (!SinkIsCurrent(generation)) {
        return;
    }
    LONGLONG now = Now();
    if (!sink.started) {
        sink.started = true;
        sink.base = now;
        sink.elapsedMs = 0;
    }
    if (delay != 0) {
        sink.elapsedMs += delay;
        LONGLONG deadline =
            sink.base + static_cast<LONGLONG>(sink.elapsedMs * sink.frequency / 1000);
        bool restart = now - deadline > kMaxCatchUpMs * sink.frequency / 1000;
        if (restart) {
            deadline = now;
        }
        // Restarting at the deadline itself also keeps the products small on long playbacks.
        if (restart || sink.elapsedMs >= (1u << 30)) {
            sink.base = deadline;
            sink.elapsedMs = 0;
        }
        if (deadline > now) {
            ArmTimer(sink, deadline);
        } else {
            PostMessageW(sink.window, kStepMessage, generation, 0);
        }
        return;
    }
    Inject(sink, sink.event);
    procedure(HC_SKIP, 0, 0);
    if (!SinkIsCurrent(generation)) {
        return;
    }
    PostMessageW(sink.window, kStepMessage, generation, 0);
}

LRESULT CALLBACK SinkWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kStepMessage) {
        Step(static_cast<uint32_t>(wParam));
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void ReleaseSinkResources(PlaybackSink& sink) {
    if (sink.thread) {
        SetEvent(sink.stop);
        WaitForSingleObject(sink.thread, INFINITE);
        CloseHandle(sink.thread);
    }
    if (sink.stop) {
        CloseHandle(sink.stop);
    }
    if (sink.wake) {
        CloseHandle(sink.wake);
    }
    if (sink.timer) {
        CloseHandle(sink.timer);
    }
    if (sink.raisedTimerResolution) {
        timeEndPeriod(1);
    }
    if (sink.window) {
        // Also fine from inside the window's own procedure (removal during HC_SKIP): the
        // procedure touches nothing of the window afterwards.
        DestroyWindow(sink.window);
    }
}

HANDLE CreateSinkTimer(bool* raisedResolution) {
    *raisedResolution = false;
    CreateWaitableTimerExWFunction createEx =
        reinterpret_cast<CreateWaitableTimerExWFunction>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleA("kernel32.dll"), "CreateWaitableTimerExW")));
    if (createEx) {
        HANDLE timer =
            createEx(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS);
        if (timer) {
            return timer;
        }
    }
    HANDLE timer = CreateWaitableTimerW(nullptr, FALSE, nullptr);
    if (timer && timeBeginPeriod(1) == TIMERR_NOERROR) {
        *raisedResolution = true;
    }
    return timer;
}

HookHandle InstallEmulatedPlayback(HookProcedure procedure) {
    if (playbackSink.procedure) {
        return nullptr;
    }
    static ATOM windowClass;
    if (!windowClass) {
        WNDCLASSW description = {};
        description.lpfnWndProc = SinkWindowProc;
        description.hInstance = GetModuleHandleW(nullptr);
        description.lpszClassName = kSinkWindowClass;
        windowClass = RegisterClassW(&description);
        if (!windowClass) {
            return nullptr;
        }
    }
    PlaybackSink& sink = playbackSink;
    sink = PlaybackSink();
    sink.generation = ++playbackGeneration;
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    sink.frequency = frequency.QuadPart;
    sink.window = CreateWindowExW(0, kSinkWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    sink.stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    sink.wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    sink.timer = CreateSinkTimer(&sink.raisedTimerResolution);
    // A timer wakes up to about a timer period late; that last stretch is spun instead.
    sink.spinTicks = sink.frequency * (sink.raisedTimerResolution ? 2 : 1) / 1000;
    if (sink.window && sink.stop && sink.wake && sink.timer) {
        sink.thread = CreateThread(nullptr, 0, SinkTimerThread, nullptr, 0, nullptr);
    }
    if (!sink.thread) {
        ReleaseSinkResources(sink);
        sink = PlaybackSink();
        return nullptr;
    }
    SetThreadPriority(sink.thread, THREAD_PRIORITY_HIGHEST);
    sink.procedure = procedure;
    // The first question comes from the message loop, after the caller has taken the handle.
    PostMessageW(sink.window, kStepMessage, sink.generation, 0);
    return &playbackSink;
}

void RemoveEmulatedPlayback() {
    PlaybackSink& sink = playbackSink;
    if (!sink.procedure) {
        return;
    }
    sink.procedure = nullptr;
    ReleaseSinkResources(sink);
    ReleaseHeld(sink);
    sink = PlaybackSink();
}

}  // namespace

namespace win32 {

bool IsEmulatedHook(void* hook) {
    return (hook == &recordSource && recordSource.procedure) ||
           (hook == &playbackSink && playbackSink.procedure);
}

}  // namespace win32

HookHandle InstallRecordHook(InstanceHandle instance, HookProcedure procedure) {
    if (!procedure) {
        return nullptr;
    }
    if (win32::NativeJournalHooksPreferred()) {
        nativeRecordProcedure = procedure;
        HHOOK hook =
            SetWindowsHookExA(WH_JOURNALRECORD, NativeRecordThunk, ModuleOrSelf(instance), 0);
        if (hook) {
            return hook;
        }
    }
    return InstallEmulatedRecord(instance, procedure);
}

HookHandle InstallPlaybackHook(InstanceHandle instance, HookProcedure procedure) {
    if (!procedure) {
        return nullptr;
    }
    if (win32::NativeJournalHooksPreferred()) {
        nativePlaybackProcedure = procedure;
        HHOOK hook =
            SetWindowsHookExA(WH_JOURNALPLAYBACK, NativePlaybackThunk, ModuleOrSelf(instance), 0);
        if (hook) {
            return hook;
        }
    }
    return InstallEmulatedPlayback(procedure);
}

void RemoveHook(HookHandle hook) {
    if (hook == &recordSource) {
        RemoveEmulatedRecord();
    } else if (hook == &playbackSink) {
        RemoveEmulatedPlayback();
    } else if (hook) {
        UnhookWindowsHookEx(static_cast<HHOOK>(hook));
    }
}

intptr_t CallNextHook(HookHandle hook, int code, uintptr_t wParam, intptr_t lParam) {
    if (hook == &recordSource || hook == &playbackSink) {
        return 0;
    }
    return CallNextHookEx(static_cast<HHOOK>(hook), code, wParam, lParam);
}

}  // namespace platform
