// Playback without journal hooks. The installing thread owns a message-only window, and the hook
// procedure is only ever called from its messages, as the system calls a journal hook from its
// thread's message loop. The moment of every injection belongs to a timer thread of the sink's
// own: the main thread asks for events (HC_GETNEXT), works out their deadlines and queues them,
// and the timer thread injects each at its deadline.
//
// An event whose deadline is less than kCommitAheadMs away is reported processed (HC_SKIP) as
// soon as it is queued, and the next one is asked for at once; an event further away is reported
// once it is that close, when the timer thread tells the main thread. So the queue always holds
// what is due in the next kCommitAheadMs, and a main thread busy with other work (a
// notification-area call, a redraw) for less than that delays nothing. A Stop removes the queue
// at once: nothing is injected after it. When the procedure itself ends the playback (from its
// HC_SKIP of the last event), the events already reported processed are injected first.
//
// Deadlines sit on one absolute timeline (the first event's moment plus the sum of all delays
// since), so a late wake-up or a slow step shortens the next wait instead of shifting everything
// after it. A pause (the program's menu is open) moves the whole timeline on by its length.
#include <windows.h>
#include <mmsystem.h>

#include <atomic>

#include "app/program_ids.h"
#include "platform/input.h"
#include "platform/win32/input_win32.h"
#include "platform/win32/report.h"

namespace platform {
namespace win32 {

namespace {

const UINT kFillMessage = WM_PLAYBACKFILL;  // wParam: the generation. Ask for more events.
const wchar_t kSinkWindowClass[] = L"qv.input.playback";

// Lateness up to this is caught up, which keeps a playback in step with a sound track on a busy
// machine; after a longer stall (a blocked message loop, a suspended system) the timeline
// restarts from now instead of replaying the backlog in one burst.
const uint32_t kMaxCatchUpMs = 1000;
// How far ahead of their deadlines events are queued and reported processed; also the longest
// that the end of a playback waits for the events already reported.
const uint32_t kCommitAheadMs = 50;
// Events due together beyond this many are fetched in turns as the queue empties.
const size_t kQueueSize = 256;

struct Pending {
    EventRecord event;
    LONGLONG deadline;
    bool reported;    // HC_SKIP was sent for it
    bool fillPosted;  // the main thread was told that it is due soon
};

struct PlaybackSink {
    HookProcedure procedure;
    uint32_t generation;  // tells stale posts and re-entrant removals apart
    HWND window;
    HANDLE thread;
    HANDLE wake;  // auto-reset: the queue has changed
    HANDLE stop;  // manual-reset: the sink is being removed
    HANDLE timer;
    bool raisedTimerResolution;
    bool holdingBack;
    bool lockMade;
    // Taken by the timer thread around each injection, and by a pause, so that nothing is
    // injected once a pause has begun.
    CRITICAL_SECTION injecting;
    LONGLONG pausedAt;
    HWND foreground;  // when the pause began

    LONGLONG frequency;  // QueryPerformanceCounter ticks per second
    LONGLONG spinTicks;  // the last part of a wait is spun, the timer is not that precise
    LONGLONG aheadTicks;
    bool started;
    LONGLONG base;       // QPC moment the timeline counts from
    uint64_t elapsedMs;  // sum of the delays since base

    // The main thread's: the last event queued waits for its HC_SKIP, due at this moment.
    bool awaiting;
    LONGLONG awaitingDeadline;
    bool insideSkip;

    // Shared by both threads, under `lock`.
    CRITICAL_SECTION lock;
    Pending queue[kQueueSize];
    size_t first;
    size_t count;
    bool fillWhenRoom;  // the main thread stopped asking at a full queue
    bool draining;      // the playback has ended: inject what is queued, then stop
    bool waitQueued;    // the procedure waits: asked again when the wait leaves the queue
    bool paused;
    uint32_t shifts;  // the pauses so far: a wait for an older deadline is out of date

    // The timer thread's while it runs; the main thread reads it once that thread has ended.
    HeldInput held;
};

PlaybackSink playbackSink;
uint32_t playbackGeneration;
// Set before `stop` is signalled, so that the timer thread's spin sees it without a system call.
std::atomic<bool> sinkStopping(false);
std::atomic<InjectionObserver> injectionObserver(nullptr);
// Set by CancelPlayback; the thread told of it is the one that installed the sink.
std::atomic<bool> playbackCancelled(false);
std::atomic<DWORD> playbackOwner(0);
std::atomic<DesktopCheck> desktopCheck(nullptr);

bool SystemInputDesktopReachable() {
    // The desktop of a locked screen or of an elevation prompt is not for this process to open.
    HDESK desktop = OpenInputDesktop(0, FALSE, DESKTOP_SWITCHDESKTOP);
    if (!desktop)
        return false;
    CloseDesktop(desktop);
    return true;
}

bool InputDesktopReachable() {
    DesktopCheck check = desktopCheck.load();
    return check ? check() : SystemInputDesktopReachable();
}

LONGLONG Now() {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

bool SinkIsCurrent(uint32_t generation) {
    return playbackSink.procedure && playbackSink.generation == generation;
}

void PostFill(PlaybackSink& sink) {
    PostMessageW(sink.window, kFillMessage, sink.generation, 0);
}

DWORD WINAPI SinkTimerThread(void*) {
    PlaybackSink& sink = playbackSink;
    HANDLE stopOrWake[2] = {sink.stop, sink.wake};
    for (;;) {
        EnterCriticalSection(&sink.lock);
        bool have = sink.count != 0;
        Pending front = have ? sink.queue[sink.first] : Pending();
        bool draining = sink.draining;
        bool paused = sink.paused;
        uint32_t shifts = sink.shifts;
        LeaveCriticalSection(&sink.lock);
        if (!have || paused) {
            if (!have && draining)
                return 0;
            if (WaitForMultipleObjects(2, stopOrWake, FALSE, INFINITE) != WAIT_OBJECT_0 + 1)
                return 0;
            continue;
        }
        if (!front.reported && !front.fillPosted && !draining) {
            // The main thread reports it processed and asks for the next ones a little ahead,
            // so that the next event's deadline never waits for the main thread.
            if (!WaitForDeadline(front.deadline - sink.aheadTicks, sink.timer, sink.stop,
                                 sinkStopping, sink.frequency, sink.spinTicks))
                return 0;
            EnterCriticalSection(&sink.lock);
            bool current = !sink.paused && sink.shifts == shifts;
            if (current)
                sink.queue[sink.first].fillPosted = true;
            LeaveCriticalSection(&sink.lock);
            if (current)
                PostFill(sink);
            continue;
        }
        if (!WaitForDeadline(front.deadline, sink.timer, sink.stop, sinkStopping, sink.frequency,
                             sink.spinTicks))
            return 0;
        EnterCriticalSection(&sink.injecting);
        EnterCriticalSection(&sink.lock);
        bool current = !sink.paused && sink.shifts == shifts;
        LeaveCriticalSection(&sink.lock);
        if (!current) {
            LeaveCriticalSection(&sink.injecting);
            continue;
        }
        if (playbackCancelled.load() || !InputDesktopReachable()) {
            LeaveCriticalSection(&sink.injecting);
            CancelPlayback();
            return 0;
        }
        if (front.event.message == kWaitEvent) {
            // Nothing to inject: the procedure's wait is over, it is asked again.
            EnterCriticalSection(&sink.lock);
            sink.first = (sink.first + 1) % kQueueSize;
            sink.count--;
            sink.waitQueued = false;
            LeaveCriticalSection(&sink.lock);
            LeaveCriticalSection(&sink.injecting);
            PostFill(sink);
            continue;
        }
        LONGLONG released = Now();
        bool injected = Inject(sink.held, front.event);
        LeaveCriticalSection(&sink.injecting);
        if (!injected) {
            CancelPlayback();
            return 0;
        }
        InjectionObserver observer = injectionObserver.load();
        if (observer)
            observer(released, Now());
        EnterCriticalSection(&sink.lock);
        sink.first = (sink.first + 1) % kQueueSize;
        sink.count--;
        bool room = sink.fillWhenRoom && sink.count <= kQueueSize / 2;
        if (room)
            sink.fillWhenRoom = false;
        LeaveCriticalSection(&sink.lock);
        if (room)
            PostFill(sink);
    }
}

// The deadline of an event handed out with `delay`, on the timeline.
LONGLONG DeadlineAfter(PlaybackSink& sink, uint32_t delay, LONGLONG now) {
    if (!sink.started) {
        sink.started = true;
        sink.base = now;
        sink.elapsedMs = 0;
    }
    sink.elapsedMs += delay;
    LONGLONG deadline = sink.base + static_cast<LONGLONG>(sink.elapsedMs * sink.frequency / 1000);
    bool restart = now - deadline > kMaxCatchUpMs * sink.frequency / 1000;
    if (restart)
        deadline = now;
    // Restarting at the deadline itself also keeps the products small on long playbacks.
    if (restart || sink.elapsedMs >= (1u << 30)) {
        sink.base = deadline;
        sink.elapsedMs = 0;
    }
    return deadline;
}

// Reports the last event asked for processed. False when that ended this sink.
bool Report(PlaybackSink& sink, uint32_t generation) {
    sink.insideSkip = true;
    sink.procedure(HC_SKIP, 0, 0);
    if (!SinkIsCurrent(generation))
        return false;
    sink.insideSkip = false;
    return true;
}

// Asks for events until the queue holds what is due in the next kCommitAheadMs.
void Fill(uint32_t generation) {
    if (!SinkIsCurrent(generation) || playbackSink.paused)
        return;
    PlaybackSink& sink = playbackSink;
    // The procedure may remove the sink (or remove it and install another) from inside any
    // call: after each one, nothing is touched unless this sink is still the current one.
    if (sink.awaiting) {
        if (sink.awaitingDeadline - Now() > sink.aheadTicks)
            return;  // not due yet: the timer thread asks again
        sink.awaiting = false;
        if (!Report(sink, generation))
            return;
    }
    for (;;) {
        EnterCriticalSection(&sink.lock);
        bool full = sink.count == kQueueSize;
        sink.fillWhenRoom = full;
        bool waiting = sink.waitQueued;
        LeaveCriticalSection(&sink.lock);
        if (full || waiting)
            return;
        EventRecord event = {};
        uint32_t delay = static_cast<uint32_t>(
            sink.procedure(HC_GETNEXT, 0, reinterpret_cast<intptr_t>(&event)));
        if (!SinkIsCurrent(generation))
            return;
        LONGLONG now = Now();
        LONGLONG deadline = DeadlineAfter(sink, delay, now);
        bool wait = event.message == kWaitEvent;
        bool soon = deadline - now <= sink.aheadTicks;
        EnterCriticalSection(&sink.lock);
        // A wait is never reported: it only holds the next question back until its deadline.
        sink.queue[(sink.first + sink.count) % kQueueSize] = {event, deadline, soon || wait, false};
        sink.count++;
        sink.waitQueued = wait;
        LeaveCriticalSection(&sink.lock);
        SetEvent(sink.wake);
        if (wait)
            return;
        if (!soon) {
            sink.awaiting = true;
            sink.awaitingDeadline = deadline;
            return;
        }
        if (!Report(sink, generation))
            return;
    }
}

LRESULT CALLBACK SinkWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kFillMessage) {
        Fill(static_cast<uint32_t>(wParam));
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// `drain`: the events reported processed are injected first, at their deadlines.
void ReleaseSinkResources(PlaybackSink& sink, bool drain) {
    if (sink.thread) {
        if (drain) {
            EnterCriticalSection(&sink.lock);
            sink.draining = true;
            LeaveCriticalSection(&sink.lock);
            SetEvent(sink.wake);
        } else {
            sinkStopping.store(true);
            SetEvent(sink.stop);
        }
        // An injection under way finishes first; none starts after this returns. An injection
        // may wait for a low-level hook of this thread (a recording's), which is answered from
        // here: sent messages only, nothing posted is dispatched.
        while (MsgWaitForMultipleObjects(1, &sink.thread, FALSE, INFINITE, QS_SENDMESSAGE) ==
               WAIT_OBJECT_0 + 1) {
            MSG message;
            PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
        CloseHandle(sink.thread);
    }
    if (sink.lockMade) {
        DeleteCriticalSection(&sink.lock);
        DeleteCriticalSection(&sink.injecting);
    }
    if (sink.stop)
        CloseHandle(sink.stop);
    if (sink.wake)
        CloseHandle(sink.wake);
    if (sink.timer)
        CloseHandle(sink.timer);
    if (sink.raisedTimerResolution)
        timeEndPeriod(1);
    if (sink.window) {
        // Also fine from inside the window's own procedure (removal during HC_SKIP): the
        // procedure touches nothing of the window afterwards.
        DestroyWindow(sink.window);
    }
}

}  // namespace

void SetInjectionObserver(InjectionObserver observer) {
    injectionObserver.store(observer);
}

void CancelPlayback() {
    if (!playbackCancelled.exchange(true))
        PostThreadMessageW(playbackOwner.load(), WM_CANCELJOURNAL, 0, 0);
}

void SetInputDesktopCheck(DesktopCheck check) {
    desktopCheck.store(check);
}

HookHandle InstallEmulatedPlayback(HookProcedure procedure) {
    if (playbackSink.procedure)
        return nullptr;
    static ATOM windowClass;
    if (!windowClass) {
        WNDCLASSW description = {};
        description.lpfnWndProc = SinkWindowProc;
        description.hInstance = GetModuleHandleW(nullptr);
        description.lpszClassName = kSinkWindowClass;
        windowClass = RegisterClassW(&description);
        if (!windowClass) {
            ReportLastError("RegisterClassW", "the playback's window");
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
    sink.aheadTicks = sink.frequency * kCommitAheadMs / 1000;
    InitializeCriticalSection(&sink.lock);
    InitializeCriticalSection(&sink.injecting);
    sink.lockMade = true;
    sink.window = CreateWindowExW(0, kSinkWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    sink.stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    sink.wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    sink.timer = CreateDeadlineTimer(&sink.raisedTimerResolution);
    // A timer wakes up to about a timer period late; that last stretch is spun instead.
    sink.spinTicks = sink.frequency * (sink.raisedTimerResolution ? 2 : 1) / 1000;
    if (sink.window && sink.stop && sink.wake && sink.timer)
        sink.thread = CreateThread(nullptr, 0, SinkTimerThread, nullptr, 0, nullptr);
    if (!sink.thread) {
        // One of the four above, or the thread itself; the first failure set the error.
        ReportLastError(
            "CreateThread", "the playback's timer thread; window %s, events %s, timer %s",
            sink.window ? "made" : "refused", sink.stop && sink.wake ? "made" : "refused",
            sink.timer ? "made" : "refused");
        ReleaseSinkResources(sink, false);
        sink = PlaybackSink();
        return nullptr;
    }
    // Injections are timed on this thread: it must win the processor from ordinary work.
    SetThreadPriority(sink.thread, THREAD_PRIORITY_HIGHEST);
    playbackCancelled.store(false);
    playbackOwner.store(GetCurrentThreadId());
    // While the system plays a journal it takes no input from the user; the emulation keeps the
    // user's mouse and keyboard out in the same way, so that a nudge cannot misplace a click.
    sink.holdingBack = HoldBackUserInput();
    LetGoOfUserModifiers();
    sink.procedure = procedure;
    // The first question comes from the message loop, after the caller has taken the handle.
    PostFill(sink);
    return &playbackSink;
}

void RemoveEmulatedPlayback() {
    PlaybackSink& sink = playbackSink;
    if (!sink.procedure)
        return;
    sink.procedure = nullptr;
    // Removed by the procedure from inside its report of the last event: the playback ran to
    // its end. From anywhere else it is a Stop.
    ReleaseSinkResources(sink, sink.insideSkip);
    ReleaseHeld(sink.held);
    if (sink.holdingBack)
        ReleaseUserInput();
    sink = PlaybackSink();
}

void PauseEmulatedPlayback(bool paused) {
    PlaybackSink& sink = playbackSink;
    if (!sink.procedure || sink.paused == paused)
        return;
    if (paused) {
        sink.foreground = GetForegroundWindow();
        // An injection under way ends first; none begins until the playback goes on.
        EnterCriticalSection(&sink.injecting);
        EnterCriticalSection(&sink.lock);
        sink.paused = true;
        LeaveCriticalSection(&sink.lock);
        sink.pausedAt = Now();
        LiftHeldKeys(sink.held, true);
        LeaveCriticalSection(&sink.injecting);
        return;
    }
    LONGLONG shift = Now() - sink.pausedAt;
    if (sink.foreground && IsWindow(sink.foreground))
        SetForegroundWindow(sink.foreground);
    EnterCriticalSection(&sink.injecting);
    LiftHeldKeys(sink.held, false);
    EnterCriticalSection(&sink.lock);
    for (size_t i = 0; i < sink.count; ++i) {
        Pending& pending = sink.queue[(sink.first + i) % kQueueSize];
        pending.deadline += shift;
        pending.fillPosted = false;  // asked for again at the new moment
    }
    sink.shifts++;
    sink.paused = false;
    LeaveCriticalSection(&sink.lock);
    LeaveCriticalSection(&sink.injecting);
    sink.base += shift;
    sink.awaitingDeadline += shift;
    SetEvent(sink.wake);
    PostFill(sink);
}

bool IsPlaybackSinkHandle(HookHandle hook) {
    return hook == &playbackSink;
}

bool PlaybackSinkInstalled() {
    return playbackSink.procedure != nullptr;
}

}  // namespace win32
}  // namespace platform
