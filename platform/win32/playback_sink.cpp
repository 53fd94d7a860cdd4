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
#include "platform/win32/playback_sink.h"

#include "platform/win32/report.h"

namespace platform {
namespace win32 {

using namespace sink;

namespace {

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

}  // namespace

namespace sink {

std::optional<PlaybackSink> playbackSink;

LONGLONG Now() {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

void PostFill(PlaybackSink& sink) {
    PostMessageW(sink.window.Get(), kFillMessage, sink.generation, 0);
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

}  // namespace sink

namespace {

uint32_t playbackGeneration;

bool SinkIsCurrent(uint32_t generation) {
    return playbackSink && playbackSink->procedure && playbackSink->generation == generation;
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

}  // namespace

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

bool IsPlaybackSinkHandle(HookHandle hook) {
    return hook == &playbackSink;
}

bool PlaybackSinkInstalled() {
    return playbackSink && playbackSink->procedure != nullptr;
}

}  // namespace win32
}  // namespace platform
