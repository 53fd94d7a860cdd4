// Playback: the playback hook hands out the events at the recorded pace, scaled by the speed,
// passing over the program's hotkeys, pass after pass as the repeat asks, and each event at its
// moment once its window and the screen are there; and the settings a playback starts from.
#include <new>

#include "journal/hotkey_filter.h"
#include "journal/journal_codec.h"
#include "journal/journal_recorder.h"
#include "platform/window.h"

namespace {

// The largest delay a hook procedure can hand back: its result is a signed long on 32-bit
// Windows.
const uint64_t kMaxDelay = 0x7FFFFFFF;
// Lower Speed stops doubling here, so the factor never wraps round to a faster one.
const int32_t kMaxSpeed = 0x40000000;

}  // namespace

bool JournalRecorder::StartPlayback() {
    if (IsRecording() || IsPlaying() || !HasEvents())
        return false;
    replayHotkeys.Reset();
    JournalEvent* first = Playable(head);
    if (!first)
        return false;
    platform::HookHandle hook = platform::InstallPlaybackHook(instance, PlaybackHookProc);
    if (!hook)
        return false;
    playbackHook = hook;
    // The first delay spans the hotkey presses passed over, as every later one does.
    cursor = firstPlayable = first;
    playbackActive = true;
    previousTime = head->record.time;
    delayRemainder = 0;
    dueNow = false;
    releasing = false;
    heldKeys.Reset();
    pass = 1;
    passBegins = false;
    passPause = GetRepeatPause();  // found here: the playback procedure walks no list
    follower.Finish();
    if (followWindows)
        follower.Start(windows, notes);
    playWaitMs = longestWaitMs;
    // Without memory for what it notes of the windows, a playback waits for no screen.
    screenGivenUp.reset(new (std::nothrow) bool[windows.count + 1]());
    playScreens = waitForScreen && screenGivenUp;
    playGoOn = goOnWhenReady;
    playMouse = mouseMode;
    inMotion = playMouse == MouseMode::Motion;
    motionPending = {};
    SwitchScreenSaver(true);
    platform::SendToWindow(mainWindow, WM_JOURNALSTATE, JOURNAL_PLAYING, 0);
    return true;
}

void JournalRecorder::SetHotkeys(const platform::HotkeyChord* chords, size_t chordCount) {
    replayHotkeys = journal::HotkeyFilter(chords, chordCount);
}

void JournalRecorder::PausePlayback(bool paused) {
    if (IsPlaying())
        platform::PausePlayback(playbackHook, paused);
}

void JournalRecorder::SetSpeed(SpeedKind kind) {
    if (kind == SpeedKind::Faster) {
        speed /= 2;
    } else if (kind == SpeedKind::Slower) {
        if (speed <= kMaxSpeed / 2)
            speed *= 2;
    } else if (kind == SpeedKind::Normal) {
        speed = 16;
    }
}

void JournalRecorder::SetWindowFollowing(bool on, uint32_t longestWait) {
    followWindows = on;
    longestWaitMs = longestWait;
}

void JournalRecorder::SetScreenWaiting(bool wait, bool goOnWhenReady_) {
    waitForScreen = wait;
    goOnWhenReady = goOnWhenReady_;
}

void JournalRecorder::SetRepeat(uint32_t times, bool lastGap, uint32_t pauseMs) {
    repeatTimes = times;
    pauseIsLastGap = lastGap;
    repeatPause = pauseMs;
    passPause = GetRepeatPause();
}

uint32_t JournalRecorder::GetRepeatPause() const {
    if (!pauseIsLastGap)
        return repeatPause;
    // From the last event to the moment the user stopped, where the recording knows it: the
    // pause the user left at its end.
    if (endKnown && tail)
        return journal::PlayedGap(tail->record.time, recordEnd);
    // Else the gap before the last event: where the recording ended, as it would go on.
    const JournalEvent* before = head;
    while (before && before->next && before->next != tail)
        before = before->next;
    return before && before != tail ? journal::PlayedGap(before->record.time, tail->record.time)
                                    : 0;
}

uint32_t JournalRecorder::NextDelay(platform::EventRecord* target) {
    if (dueNow)
        return AtItsMoment(target);
    // What the pass before left held goes up first, at once; the pause comes after.
    if (passBegins && heldKeys.NextRelease(target)) {
        releasing = true;
        return 0;
    }
    uint32_t previous = previousTime;
    previousTime = cursor->record.time;
    uint32_t gap = passBegins ? passPause : journal::PlayedGap(previous, previousTime);
    passBegins = false;
    // Scaled in 64 bits so that neither a long gap nor a slow speed wraps into a short delay.
    // Delays are whole milliseconds; the fraction a faster speed leaves (half of every odd gap
    // at speed 8) goes into the next delay instead of being lost, so the playback keeps to the
    // scaled timeline however many events it has.
    uint64_t scaled =
        static_cast<uint64_t>(gap) * static_cast<uint64_t>(static_cast<uint32_t>(speed)) +
        delayRemainder;
    uint64_t delay = scaled >> 4;
    delayRemainder = static_cast<uint32_t>(scaled & 15);
    if (delay >= kMaxDelay) {
        delayRemainder = 0;
        delay = kMaxDelay;
    }
    if (ByMotion(*cursor, target))
        return static_cast<uint32_t>(delay);
    checkScreen = ChecksScreen(*cursor);
    if (!checkScreen && !follower.Follows(cursor->record, cursor->note)) {
        follower.Place(cursor->record, cursor->note, target);
        AsTheDeviceSent(target);
        return static_cast<uint32_t>(delay);
    }
    // Placed at its own moment, once the events before it were played: a window that the replay
    // itself moved (maximised by a double click on its title) is then where it went, and a
    // button that lights up under the pointer looks as it did. Until then the input layer waits,
    // asking no further; a pause that may end as soon as the screen is ready is waited in slices.
    dueNow = true;
    waited = 0;
    earlyLeft = checkScreen && playGoOn ? static_cast<uint32_t>(delay) : 0;
    uint32_t wait = static_cast<uint32_t>(delay);
    if (earlyLeft) {
        wait = earlyLeft < journal::kScreenLookMs ? earlyLeft : journal::kScreenLookMs;
        earlyLeft -= wait;
    }
    *target = platform::EventRecord{platform::kWaitEvent, 0, 0, cursor->record.time, 0};
    return wait;
}

JournalEvent* JournalRecorder::Playable(JournalEvent* event) {
    while (event && replayHotkeys.Take(event->record))
        event = event->next;
    return event;
}

// Asked at the moment of the event at the cursor, and again while it waits for its window or
// for the screen: hands it out placed once both are there, or as recorded (at its window's point)
// once the longest wait has passed. The wait is real time, at any speed, and the rest of the
// timeline comes after it.
uint32_t JournalRecorder::AtItsMoment(platform::EventRecord* target) {
    if (earlyLeft) {
        // Within a pause that ends as soon as the screen is ready.
        bool ready = follower.Place(cursor->record, cursor->note, target) &&
                     LookAtScreen(*target, nullptr, nullptr) != journal::PictureCheck::kMissing;
        if (!ready) {
            uint32_t slice =
                earlyLeft < journal::kScreenLookMs ? earlyLeft : journal::kScreenLookMs;
            earlyLeft -= slice;
            *target = platform::EventRecord{platform::kWaitEvent, 0, 0, cursor->record.time, 0};
            return slice;
        }
        earlyLeft = 0;
    }
    bool windowThere = follower.Place(cursor->record, cursor->note, target);
    bool screenThere = !windowThere || !checkScreen || PressWhereTheScreenShows(target);
    if (!(windowThere && screenThere) && waited < playWaitMs) {
        if (!waited)
            platform::PostToWindow(mainWindow, WM_JOURNALSTATE, JOURNAL_WAITING, 1);
        uint32_t look = windowThere ? journal::kScreenLookMs : journal::kLookAgainMs;
        waited += look;
        *target = platform::EventRecord{platform::kWaitEvent, 0, 0, cursor->record.time, 0};
        return look;
    }
    if (!windowThere)
        follower.GiveUp(cursor->note);
    else if (!screenThere)
        ScreenNeverCame(*cursor);
    AsTheDeviceSent(target);
    // The sound track waited with the input, and goes on with it.
    if (waited)
        platform::PostToWindow(mainWindow, WM_JOURNALSTATE, JOURNAL_WAITING, 0);
    dueNow = false;
    return 0;
}

void JournalRecorder::Advance() {
    if (releasing) {
        releasing = false;  // a key the pass before left held, let go of
        return;
    }
    follower.Passed(cursor->record);
    heldKeys.Take(cursor->record);
    // Posted: the sound track starts its pass from the message loop, not from inside the
    // system's input processing.
    if (cursor == firstPlayable && pass > 1)
        platform::PostToWindow(mainWindow, WM_JOURNALSTATE, JOURNAL_PASS,
                               static_cast<intptr_t>(pass));
    // The events passed over are not played: the next delay spans their time.
    if (JournalEvent* next = Playable(cursor->next)) {
        cursor = next;
        return;
    }
    bool again = repeatTimes == 0 || pass < repeatTimes;
    if (again) {
        // Each pass begins afresh: no key it did not press, no window given up, as the first.
        replayHotkeys.Reset();
        follower.NewPass();
        firstPlayable = Playable(head);
    }
    if (again && firstPlayable) {
        cursor = firstPlayable;
        pass++;
        passBegins = true;
    } else {
        Stop();
    }
}

intptr_t JournalRecorder::PlaybackHookProc(int code, uintptr_t wParam, intptr_t lParam) {
    JournalRecorder* self = journalRecorderInstance;
    if (code < 0)
        return platform::CallNextHook(self->playbackHook, code, wParam, lParam);
    switch (code) {
        case HC_GETNEXT:
            if (self->playbackActive) {
                return static_cast<intptr_t>(
                    self->NextDelay(reinterpret_cast<platform::EventRecord*>(lParam)));
            }
            break;
        case HC_SKIP:
            // The last event's skip stops the playback; the recorder may be gone afterwards.
            // A wait is not an event.
            if (self->playbackActive && !self->dueNow)
                self->Advance();
            break;
        case HC_SYSMODALON:
            self->playbackActive = false;
            break;
        case HC_SYSMODALOFF:
            self->playbackActive = true;
            break;
        default:
            break;
    }
    return 0;
}
