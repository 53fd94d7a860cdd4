// Playback without journal hooks. The installing thread owns a message-only window, and the hook
// procedure is only ever called from its messages, as the system calls a journal hook from its
// thread's message loop. Each step asks the procedure for the next event (HC_GETNEXT), works out
// its deadline and hands it to a timer thread of the sink's own; that thread injects the event
// when the deadline comes and posts back, and the next step reports the event processed
// (HC_SKIP) and asks for the one after. So the moment of an injection belongs to the timer
// thread: a main thread busy with other work (a notification-area call, a redraw) only needs to
// come back before the next deadline, not at it.
//
// Deadlines sit on one absolute timeline (the first event's moment plus the sum of all delays
// since), so a late wake-up or a slow step shortens the next wait instead of shifting everything
// after it.
#include <windows.h>
#include <mmsystem.h>

#include <atomic>

#include "platform/input.h"
#include "platform/win32/input_win32.h"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace platform {
namespace win32 {

namespace {

const UINT kStepMessage = WM_APP + 1;      // wParam: the generation. Ask for the next event.
const UINT kInjectedMessage = WM_APP + 2;  // wParam: the generation. The handed event is in.
const wchar_t kSinkWindowClass[] = L"qv.input.playback";

// Lateness up to this is caught up, which keeps a playback in step with a sound track on a busy
// machine; after a longer stall (a blocked message loop, a suspended system) the timeline
// restarts from now instead of replaying the backlog in one burst.
const uint32_t kMaxCatchUpMs = 1000;

struct PlaybackSink {
    HookProcedure procedure;
    uint32_t generation;  // tells stale posts and re-entrant removals apart
    HWND window;
    HANDLE thread;
    HANDLE wake;  // auto-reset: an event was handed to the timer thread
    HANDLE stop;  // manual-reset: the sink is being removed
    HANDLE timer;
    bool raisedTimerResolution;
    bool holdingBack;

    LONGLONG frequency;  // QueryPerformanceCounter ticks per second
    LONGLONG spinTicks;  // the last part of a wait is spun, the timer is not that precise
    bool started;
    LONGLONG base;       // QPC moment the timeline counts from
    uint64_t elapsedMs;  // sum of the delays since base

    // Written by the main thread before it sets `wake`, read by the timer thread after.
    EventRecord handed;
    LONGLONG handedDeadline;

    // The timer thread's while it runs; the main thread reads it once that thread has ended.
    HeldInput held;
};

PlaybackSink playbackSink;
uint32_t playbackGeneration;
// Set before `stop` is signalled, so that the timer thread's spin sees it without a system call.
std::atomic<bool> sinkStopping(false);
std::atomic<InjectionObserver> injectionObserver(nullptr);

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
    HANDLE stopOrWake[2] = {sink.stop, sink.wake};
    for (;;) {
        if (WaitForMultipleObjects(2, stopOrWake, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) {
            return 0;
        }
        EventRecord event = sink.handed;
        if (!WaitForDeadline(sink.handedDeadline, sink.timer, sink.stop, sinkStopping,
                             sink.frequency, sink.spinTicks)) {
            return 0;
        }
        LONGLONG released = Now();
        Inject(sink.held, event);
        InjectionObserver observer = injectionObserver.load();
        if (observer) {
            observer(released, Now());
        }
        PostMessageW(sink.window, kInjectedMessage, sink.generation, 0);
    }
}

// `injected`: the event handed over last is in, and is reported processed first.
void Step(uint32_t generation, bool injected) {
    if (!SinkIsCurrent(generation)) {
        return;
    }
    PlaybackSink& sink = playbackSink;
    HookProcedure procedure = sink.procedure;
    // The procedure may remove the sink (or remove it and install another) from inside any
    // call: after each one, nothing is touched unless this sink is still the current one.
    if (injected) {
        procedure(HC_SKIP, 0, 0);
        if (!SinkIsCurrent(generation)) {
            return;
        }
    }
    EventRecord event = {};
    uint32_t delay =
        static_cast<uint32_t>(procedure(HC_GETNEXT, 0, reinterpret_cast<intptr_t>(&event)));
    if (!SinkIsCurrent(generation)) {
        return;
    }
    LONGLONG now = Now();
    if (!sink.started) {
        sink.started = true;
        sink.base = now;
        sink.elapsedMs = 0;
    }
    sink.elapsedMs += delay;
    LONGLONG deadline = sink.base + static_cast<LONGLONG>(sink.elapsedMs * sink.frequency / 1000);
    bool restart = now - deadline > kMaxCatchUpMs * sink.frequency / 1000;
    if (restart) {
        deadline = now;
    }
    // Restarting at the deadline itself also keeps the products small on long playbacks.
    if (restart || sink.elapsedMs >= (1u << 30)) {
        sink.base = deadline;
        sink.elapsedMs = 0;
    }
    sink.handed = event;
    sink.handedDeadline = deadline;
    SetEvent(sink.wake);
}

LRESULT CALLBACK SinkWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kStepMessage || message == kInjectedMessage) {
        Step(static_cast<uint32_t>(wParam), message == kInjectedMessage);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void ReleaseSinkResources(PlaybackSink& sink) {
    if (sink.thread) {
        sinkStopping.store(true);
        SetEvent(sink.stop);
        // An injection under way finishes first; none starts after this returns.
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

}  // namespace

bool WaitForDeadline(LONGLONG deadline, HANDLE timer, HANDLE stop,
                     const std::atomic<bool>& stopping, LONGLONG frequency, LONGLONG spinTicks) {
    HANDLE stopOrTimer[2] = {stop, timer};
    for (;;) {
        if (stopping.load()) {
            return false;
        }
        LONGLONG sleepTicks = deadline - spinTicks - Now();
        if (sleepTicks <= 0) {
            break;
        }
        DWORD woke;
        LARGE_INTEGER due;
        // Relative, in 100 ns units; split so that long waits cannot overflow.
        due.QuadPart =
            -(sleepTicks / frequency * 10000000 + sleepTicks % frequency * 10000000 / frequency);
        if (due.QuadPart == 0) {
            due.QuadPart = -1;
        }
        if (timer && SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE)) {
            woke = WaitForMultipleObjects(2, stopOrTimer, FALSE, INFINITE);
            if (woke == WAIT_FAILED) {
                timer = nullptr;
            }
        } else {
            // Without a timer, whole milliseconds on the stop event; the spin does the rest.
            LONGLONG milliseconds = sleepTicks * 1000 / frequency;
            if (milliseconds == 0) {
                break;
            }
            woke = WaitForSingleObject(
                stop, milliseconds < 0x7FFFFFFF ? static_cast<DWORD>(milliseconds) : 0x7FFFFFFF);
        }
        if (woke == WAIT_OBJECT_0) {
            return false;
        }
    }
    while (Now() < deadline) {
        if (stopping.load(std::memory_order_relaxed)) {
            return false;
        }
        YieldProcessor();
    }
    return !stopping.load();
}

void SetInjectionObserver(InjectionObserver observer) {
    injectionObserver.store(observer);
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
    sinkStopping.store(false);
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
    // Injections are timed on this thread: it must win the processor from ordinary work.
    SetThreadPriority(sink.thread, THREAD_PRIORITY_HIGHEST);
    // While the system plays a journal it takes no input from the user; the emulation keeps the
    // user's mouse and keyboard out in the same way, so that a nudge cannot misplace a click.
    sink.holdingBack = HoldBackUserInput();
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
    ReleaseHeld(sink.held);
    if (sink.holdingBack) {
        ReleaseUserInput();
    }
    sink = PlaybackSink();
}

bool IsPlaybackSinkHandle(HookHandle hook) {
    return hook == &playbackSink;
}

bool PlaybackSinkInstalled() {
    return playbackSink.procedure != nullptr;
}

}  // namespace win32
}  // namespace platform
