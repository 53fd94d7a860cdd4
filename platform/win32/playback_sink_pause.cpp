// A pause of the emulated playback (the program's menu is open): nothing is injected from its
// start, the keys held are let go of, and when it ends the whole timeline moves on by its length.
#include "platform/win32/playback_sink.h"

namespace platform {
namespace win32 {

using namespace sink;

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

}  // namespace win32
}  // namespace platform
