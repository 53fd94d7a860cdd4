// The emulated playback's timer thread: it waits for each queued event's deadline, injects it
// then, and tells the main thread when the next events are due to be asked for; and the cancel,
// which ends a playback from any thread as the system ends a journal playback.
#include "platform/win32/playback_sink.h"

namespace platform {
namespace win32 {

using namespace sink;

namespace sink {

std::atomic<bool> sinkStopping(false);
std::atomic<bool> playbackCancelled(false);
std::atomic<DWORD> playbackOwner(0);

}  // namespace sink

namespace {

std::atomic<InjectionObserver> injectionObserver(nullptr);
std::atomic<DesktopCheck> desktopCheck(nullptr);

bool SystemInputDesktopReachable() {
    // The desktop of a locked screen or of an elevation prompt is not for this process to open.
    ScopedDesktop desktop(OpenInputDesktop(0, FALSE, DESKTOP_SWITCHDESKTOP));
    return static_cast<bool>(desktop);
}

bool InputDesktopReachable() {
    DesktopCheck check = desktopCheck.load();
    return check ? check() : SystemInputDesktopReachable();
}

// Whether a wait that began before the last pause ended (`shifts`) is still the one to keep.
bool StillCurrent(PlaybackSink& sink, uint32_t shifts) {
    Locked queueHeld(sink.lock);
    return !sink.paused && sink.shifts == shifts;
}

}  // namespace

namespace sink {

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

}  // namespace sink

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

}  // namespace win32
}  // namespace platform
