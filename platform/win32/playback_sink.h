// The emulated playback sink's inner pieces, shared by its files: playback_sink.cpp (the sink,
// its window, and the main thread's questions to the procedure on one timeline),
// playback_sink_timer.cpp (the timer thread that injects each event at its deadline, and the
// cancel) and playback_sink_pause.cpp (a pause, which moves the timeline on by its length).
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/input.h"
#include "platform/program_ids.h"
#include "platform/win32/input_win32.h"
#include "platform/win32/scoped.h"

namespace platform {
namespace win32 {
namespace sink {

const UINT kFillMessage = WM_PLAYBACKFILL;  // wParam: the generation. Ask for more events.
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
extern std::optional<PlaybackSink> playbackSink;
// Set before `stop` is signalled, so that the timer thread's spin sees it without a system call.
extern std::atomic<bool> sinkStopping;
// Set by CancelPlayback; the thread told of it is the one that installed the sink.
extern std::atomic<bool> playbackCancelled;
extern std::atomic<DWORD> playbackOwner;

// QueryPerformanceCounter's moment now.
LONGLONG Now();
// Tells the sink's window to ask the procedure for more events.
void PostFill(PlaybackSink& sink);
DWORD WINAPI SinkTimerThread(void* parameter);

}  // namespace sink
}  // namespace win32
}  // namespace platform
