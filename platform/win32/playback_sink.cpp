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
// HC_SKIP of the last event), the events already reported processed are injected first. A wait
// of the procedure holds every later question back until the events before it were injected and
// its own end is a few milliseconds away: what the procedure answers then is placed at its moment.
//
// Deadlines sit on one absolute timeline (the first event's moment plus the sum of all delays
// since), so a late wake-up or a slow step shortens the next wait instead of shifting everything
// after it. A pause (the program's menu is open) moves the whole timeline on by its length.
#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <optional>

#include "platform/program_ids.h"
#include "platform/input.h"
#include "platform/win32/input_win32.h"
#include "platform/win32/report.h"
#include "platform/win32/scoped.h"

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
// A procedure that waits is asked again this much before its wait is over, once every event
// before the wait was injected: an event it places at its moment then still goes out on time.
const uint32_t kAskAheadMs = 4;
// Events due together beyond this many are fetched in turns as the queue empties.
const size_t kQueueSize = 256;

struct Pending {
    EventRecord event;
    LONGLONG deadline;
    bool reported;    // HC_SKIP was sent for it
    bool fillPosted;  // the main thread was told that it is due soon
};

// Undoes the raised timer resolution that CreateDeadlineTimer may have asked for.
struct TimerResolution {
    ~TimerResolution() {
        if (raised)
            timeEndPeriod(1);
    }
    bool raised = false;
};

// Made whole at construction (its window, events, timer and timer thread; check `thread`), and
// let go of by destruction in the reverse order of the members below: the timer thread ends
// first, answering sent messages while it does, before the locks, events, timer and window that
// it uses go.
struct PlaybackSink {
    explicit PlaybackSink(uint32_t sinkGeneration);
    ~PlaybackSink() { EndTimerThread(false); }
    PlaybackSink(const PlaybackSink&) = delete;
    PlaybackSink& operator=(const PlaybackSink&) = delete;

    // `drain`: the events reported processed are injected first, at their deadlines.
    void EndTimerThread(bool drain);

    HookProcedure procedure = nullptr;
    uint32_t generation;  // tells stale posts and re-entrant removals apart
    ScopedWindow window;
    TimerResolution timerResolution;
    ScopedHandle timer;
    ScopedHandle wake;  // auto-reset: the queue has changed
    ScopedHandle stop;  // manual-reset: the sink is being removed
    bool holdingBack = false;
    // Taken by the timer thread around each injection, and by a pause, so that nothing is
    // injected once a pause has begun.
    CriticalSection injecting;
    LONGLONG pausedAt = 0;
    HWND foreground = nullptr;  // when the pause began

    LONGLONG frequency = 0;  // QueryPerformanceCounter ticks per second
    LONGLONG spinTicks = 0;  // the last part of a wait is spun, the timer is not that precise
    LONGLONG aheadTicks = 0;
    LONGLONG askAheadTicks = 0;
    bool started = false;
    LONGLONG base = 0;       // QPC moment the timeline counts from
    uint64_t elapsedMs = 0;  // sum of the delays since base

    // The main thread's: the last event queued waits for its HC_SKIP, due at this moment.
    bool awaiting = false;
    LONGLONG awaitingDeadline = 0;
    bool insideSkip = false;

    // Shared by both threads, under `lock`.
    CriticalSection lock;
    Pending queue[kQueueSize] = {};
    size_t first = 0;
    size_t count = 0;
    bool fillWhenRoom = false;  // the main thread stopped asking at a full queue
    bool draining = false;      // the playback has ended: inject what is queued, then stop
    bool waitQueued = false;    // the procedure waits: asked again when the wait leaves the queue
    bool paused = false;
    uint32_t shifts = 0;  // the pauses so far: a wait for an older deadline is out of date

    // The timer thread's while it runs; the main thread reads it once that thread has ended.
    HeldInput held = {};

    JoinedThread thread;  // last: ended first
};

// Kept in place from installation to removal, so that the handle is the same for every sink; a
// removal from inside the procedure is told by the generation.
std::optional<PlaybackSink> playbackSink;
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
    return playbackSink && playbackSink->procedure && playbackSink->generation == generation;
}

void PostFill(PlaybackSink& sink) {
    PostMessageW(sink.window.Get(), kFillMessage, sink.generation, 0);
}

// Whether a wait that began before the last pause ended (`shifts`) is still the one to keep.
bool StillCurrent(PlaybackSink& sink, uint32_t shifts) {
    Locked queueHeld(sink.lock);
    return !sink.paused && sink.shifts == shifts;
}

DWORD WINAPI SinkTimerThread(void* parameter) {
    PlaybackSink& sink = *static_cast<PlaybackSink*>(parameter);
    HANDLE stopOrWake[2] = {sink.stop.Get(), sink.wake.Get()};
    for (;;) {
        bool have, draining, paused;
        Pending front;
        uint32_t shifts;
        {
            Locked queueHeld(sink.lock);
            have = sink.count != 0;
            front = have ? sink.queue[sink.first] : Pending();
            draining = sink.draining;
            paused = sink.paused;
            shifts = sink.shifts;
        }
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
            if (!WaitForDeadline(front.deadline - sink.aheadTicks, sink.timer.Get(),
                                 sink.stop.Get(), sinkStopping, sink.frequency, sink.spinTicks))
                return 0;
            bool current;
            {
                Locked queueHeld(sink.lock);
                current = !sink.paused && sink.shifts == shifts;
                if (current)
                    sink.queue[sink.first].fillPosted = true;
            }
            if (current)
                PostFill(sink);
            continue;
        }
        bool wait = front.event.message == kWaitEvent;
        if (!WaitForDeadline(front.deadline - (wait ? sink.askAheadTicks : 0), sink.timer.Get(),
                             sink.stop.Get(), sinkStopping, sink.frequency, sink.spinTicks))
            return 0;
        LONGLONG released;
        bool injected;
        {
            Locked injectingNow(sink.injecting);
            if (!StillCurrent(sink, shifts))
                continue;
            if (playbackCancelled.load() || !InputDesktopReachable()) {
                injectingNow.Leave();
                CancelPlayback();
                return 0;
            }
            if (wait) {
                // Nothing to inject: the procedure's wait is over, it is asked again.
                {
                    Locked queueHeld(sink.lock);
                    sink.first = (sink.first + 1) % kQueueSize;
                    sink.count--;
                    sink.waitQueued = false;
                }
                injectingNow.Leave();
                PostFill(sink);
                continue;
            }
            released = Now();
            injected = Inject(sink.held, front.event);
        }
        if (!injected) {
            CancelPlayback();
            return 0;
        }
        InjectionObserver observer = injectionObserver.load();
        if (observer)
            observer(released, Now());
        bool room;
        {
            Locked queueHeld(sink.lock);
            sink.first = (sink.first + 1) % kQueueSize;
            sink.count--;
            room = sink.fillWhenRoom && sink.count <= kQueueSize / 2;
            if (room)
                sink.fillWhenRoom = false;
        }
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
    LONGLONG deadline = sink.base + TicksIn(sink.elapsedMs, sink.frequency);
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
    if (!SinkIsCurrent(generation) || playbackSink->paused)
        return;
    PlaybackSink& sink = *playbackSink;
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
        bool full, waiting;
        {
            Locked queueHeld(sink.lock);
            full = sink.count == kQueueSize;
            sink.fillWhenRoom = full;
            waiting = sink.waitQueued;
        }
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
        {
            Locked queueHeld(sink.lock);
            // A wait is never reported: it only holds the next question back until its deadline.
            sink.queue[(sink.first + sink.count) % kQueueSize] = {event, deadline, soon || wait,
                                                                  false};
            sink.count++;
            sink.waitQueued = wait;
        }
        SetEvent(sink.wake.Get());
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

PlaybackSink::PlaybackSink(uint32_t sinkGeneration) : generation(sinkGeneration) {
    LARGE_INTEGER counterFrequency;
    QueryPerformanceFrequency(&counterFrequency);
    frequency = counterFrequency.QuadPart;
    aheadTicks = frequency * kCommitAheadMs / 1000;
    askAheadTicks = frequency * kAskAheadMs / 1000;
    window.Reset(CreateWindowExW(0, kSinkWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 GetModuleHandleW(nullptr), nullptr));
    stop.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    wake.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    timer.Reset(CreateDeadlineTimer(&timerResolution.raised));
    // A timer wakes up to about a timer period late; that last stretch is spun instead.
    spinTicks = frequency * (timerResolution.raised ? 2 : 1) / 1000;
    if (window && stop && wake && timer)
        thread.Start(SinkTimerThread, this);
}

void PlaybackSink::EndTimerThread(bool drain) {
    if (!thread)
        return;
    if (drain) {
        {
            Locked queueHeld(lock);
            draining = true;
        }
        SetEvent(wake.Get());
    } else {
        sinkStopping.store(true);
        SetEvent(stop.Get());
    }
    // An injection under way finishes first; none starts after this returns. An injection
    // may wait for a low-level hook of this thread (a recording's), which is answered from
    // here.
    thread.Join(true);
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
    // Also refused while one is being removed.
    if (playbackSink)
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
    sinkStopping.store(false);
    PlaybackSink& sink = playbackSink.emplace(++playbackGeneration);
    if (!sink.thread) {
        // One of the four above, or the thread itself; the first failure set the error.
        ReportLastError(
            "CreateThread", "the playback's timer thread; window %s, events %s, timer %s",
            sink.window ? "made" : "refused", sink.stop && sink.wake ? "made" : "refused",
            sink.timer ? "made" : "refused");
        playbackSink.reset();
        return nullptr;
    }
    // Injections are timed on this thread: it must win the processor from ordinary work.
    SetThreadPriority(sink.thread.Get(), THREAD_PRIORITY_HIGHEST);
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
    if (!playbackSink || !playbackSink->procedure)
        return;
    PlaybackSink& sink = *playbackSink;
    sink.procedure = nullptr;
    // Removed by the procedure from inside its report of the last event: the playback ran to
    // its end. From anywhere else it is a Stop.
    sink.EndTimerThread(sink.insideSkip);
    HeldInput held = sink.held;
    bool holdingBack = sink.holdingBack;
    // Also fine from inside the window's own procedure (removal during HC_SKIP): the procedure
    // touches nothing of the sink or its window afterwards.
    playbackSink.reset();
    ReleaseHeld(held);
    if (holdingBack)
        ReleaseUserInput();
    // A cancel posted as the playback ended (Ctrl+Esc while it drained, a screen locked then) is
    // for this playback, which is gone: it must not stop whatever runs next.
    MSG stale;
    while (PeekMessageW(&stale, reinterpret_cast<HWND>(-1), WM_CANCELJOURNAL, WM_CANCELJOURNAL,
                        PM_REMOVE)) {
    }
}

void PauseEmulatedPlayback(bool paused) {
    if (!playbackSink || !playbackSink->procedure || playbackSink->paused == paused)
        return;
    PlaybackSink& sink = *playbackSink;
    if (paused) {
        sink.foreground = GetForegroundWindow();
        // An injection under way ends first; none begins until the playback goes on.
        Locked injectingNow(sink.injecting);
        {
            Locked queueHeld(sink.lock);
            sink.paused = true;
        }
        sink.pausedAt = Now();
        LiftHeldKeys(sink.held, true);
        return;
    }
    LONGLONG shift = Now() - sink.pausedAt;
    if (sink.foreground && IsWindow(sink.foreground))
        SetForegroundWindow(sink.foreground);
    {
        Locked injectingNow(sink.injecting);
        LiftHeldKeys(sink.held, false);
        Locked queueHeld(sink.lock);
        for (size_t i = 0; i < sink.count; ++i) {
            Pending& pending = sink.queue[(sink.first + i) % kQueueSize];
            pending.deadline += shift;
            pending.fillPosted = false;  // asked for again at the new moment
        }
        sink.shifts++;
        sink.paused = false;
    }
    sink.base += shift;
    sink.awaitingDeadline += shift;
    SetEvent(sink.wake.Get());
    PostFill(sink);
}

bool IsPlaybackSinkHandle(HookHandle hook) {
    return hook == &playbackSink;
}

bool PlaybackSinkInstalled() {
    return playbackSink && playbackSink->procedure != nullptr;
}

}  // namespace win32
}  // namespace platform
