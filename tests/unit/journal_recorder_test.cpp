#include "journal/journal_recorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "platform/fake/fake_window.h"
#include "platform/fake/fake_screen.h"
#include "platform/fake/fake_window_lookup.h"
#include "tests/common/folder_test.h"

namespace {

struct Notification {
    uintptr_t code;
    intptr_t argument;
    int recording;  // what the recorder reported while the notification was handled
    int playing;
};

std::vector<Notification> notifications;
// Set by a test to destroy the recorder from inside its stop notification, as the shell does
// at the end of an automation run.
bool destroyOnStop = false;

intptr_t TestWindowProc(platform::WindowHandle, uint32_t message, uintptr_t wParam,
                        intptr_t lParam) {
    if (message != WM_JOURNALSTATE)
        return 0;
    JournalRecorder* recorder = journalRecorderInstance;
    notifications.push_back({wParam, lParam, recorder->IsRecording(), recorder->IsPlaying()});
    if (destroyOnStop && wParam == JOURNAL_STOPPED) {
        destroyOnStop = false;
        delete recorder;
    }
    return 0;
}

platform::EventRecord Key(uint32_t time, uint32_t key = 'A') {
    return {WM_KEYDOWN, key, 1, time, 0x1234};
}

class JournalRecorderTest : public testkit::FolderTest {
  protected:
    void SetUp() override {
        fake::ResetWindows();
        notifications.clear();
        destroyOnStop = false;
        platform::RegisterMainWindowClass(nullptr, "Test", TestWindowProc, 0, 0);
        window = platform::CreateHiddenWindow(nullptr, "Test");
        recorder = new JournalRecorder(nullptr, window, 1, "Quorvatellianis");
        fake::ClearCallLog();
    }
    void TearDown() override { delete recorder; }

    // Records events with the given time stamps and stops.
    void RecordTimes(const std::vector<uint32_t>& times) {
        ASSERT_EQ(1, recorder->StartRecording());
        for (uint32_t time : times)
            fake::RecordEvent(Key(time));
        ASSERT_EQ(1, recorder->Stop());
        notifications.clear();
        fake::ClearCallLog();
    }

    std::vector<uint32_t> PlayedDelays() {
        EXPECT_EQ(1, recorder->StartPlayback());
        std::vector<uint32_t> delays;
        for (const fake::Played& played : fake::PlayAll())
            delays.push_back(played.delay);
        return delays;
    }

    platform::WindowHandle window;
    JournalRecorder* recorder;
};

TEST_F(JournalRecorderTest, RecordingInstallsHookSwitchesScreenSaverAndNotifiesInOrder) {
    EXPECT_EQ(1, recorder->StartRecording());
    fake::RecordEvent(Key(1000));
    fake::RecordEvent(Key(1100, 'B'));
    EXPECT_EQ(1, recorder->Stop());

    const std::vector<fake::Call> expected = {
        {"InstallRecordHook"},
        {"SetSystemParameter", {SPI_SETSCREENSAVERRUNNING, 1}},
        {"SetSystemParameter", {SPI_SETSCREENSAVEACTIVE, 0}},
        {"SendToWindow", {WM_JOURNALSTATE, JOURNAL_RECORDING, 0}},
        {"RemoveHook"},
        {"SendToWindow", {WM_JOURNALSTATE, JOURNAL_STOPPED, STOPPED_RECORDING}},
        {"SetSystemParameter", {SPI_SETSCREENSAVERRUNNING, 0}},
        {"SetSystemParameter", {SPI_SETSCREENSAVEACTIVE, 1}}};
    EXPECT_EQ(expected, fake::CallLog());
    ASSERT_EQ(2u, notifications.size());
    EXPECT_EQ(1, notifications[0].recording);  // started: the hook is already in place
    EXPECT_EQ(0, notifications[1].recording);  // stopped: the handle is cleared first
    EXPECT_EQ(2u, recorder->GetCount());
    EXPECT_EQ('B', recorder->GetHead()->next->record.paramL);
    EXPECT_EQ(nullptr, recorder->GetHead()->next->next);
}

TEST_F(JournalRecorderTest, RefusalsChangeNothingAndNotifyNothing) {
    EXPECT_EQ(0, recorder->StartPlayback());  // nothing to play
    EXPECT_EQ(0, recorder->Stop());           // nothing to stop
    EXPECT_EQ(0, recorder->Clear());          // nothing to clear
    EXPECT_TRUE(fake::CallLog().empty());

    ASSERT_EQ(1, recorder->StartRecording());
    fake::RecordEvent(Key(5));
    notifications.clear();
    EXPECT_EQ(0, recorder->StartRecording());
    EXPECT_EQ(0, recorder->StartPlayback());
    EXPECT_EQ(0, recorder->Clear());
    EXPECT_EQ(0, recorder->Save("x.Jnf"));
    EXPECT_EQ(0, recorder->Load("x.Jnf"));
    EXPECT_TRUE(notifications.empty());
    EXPECT_EQ(1u, recorder->GetCount());
}

TEST_F(JournalRecorderTest, HookThatCannotBeInstalledRefusesAfterEmptyingTheList) {
    RecordTimes({1, 2, 3});
    fake::SetHookInstallFails(1);
    EXPECT_EQ(0, recorder->StartPlayback());
    EXPECT_EQ(3u, recorder->GetCount());
    EXPECT_EQ(0, recorder->StartRecording());
    EXPECT_EQ(0, recorder->HasEvents());  // a new recording never continues an old list
    EXPECT_TRUE(notifications.empty());
    EXPECT_TRUE(fake::CallsOf("SetSystemParameter").empty());
}

TEST_F(JournalRecorderTest, RecordHookPausesAroundSystemModalDialogsAndPassesNegativeCodes) {
    ASSERT_EQ(1, recorder->StartRecording());
    platform::HookHandle hook = fake::InstalledHook();
    fake::RecordEvent(Key(1));
    EXPECT_EQ(0, fake::CallRecordHook(HC_SYSMODALON));
    fake::RecordEvent(Key(2));
    EXPECT_EQ(0, fake::CallRecordHook(HC_SYSMODALOFF));
    fake::RecordEvent(Key(3));
    EXPECT_EQ(0, fake::CallRecordHook(7));
    fake::SetNextHookResult(42);
    EXPECT_EQ(42, fake::CallRecordHook(-1, 99));
    const std::vector<fake::Call> passedOn = {{"CallNextHook", {-1, 0, 99}, "own"}};
    EXPECT_EQ(passedOn, fake::CallsOf("CallNextHook"));
    EXPECT_EQ(hook, fake::InstalledHook());
    EXPECT_EQ(2u, recorder->GetCount());
    EXPECT_EQ(3u, recorder->GetHead()->next->record.time);
}

TEST_F(JournalRecorderTest, PlaybackHandsOutRecordedGapsAndStopsAfterTheLastEvent) {
    RecordTimes({1000, 1100, 1100, 1350});
    std::vector<uint32_t> expected = {0, 100, 0, 250};
    EXPECT_EQ(expected, PlayedDelays());
    ASSERT_EQ(2u, notifications.size());
    EXPECT_EQ(JOURNAL_PLAYING, notifications[0].code);
    EXPECT_EQ(1, notifications[0].playing);
    EXPECT_EQ(JOURNAL_STOPPED, notifications[1].code);
    EXPECT_EQ(STOPPED_PLAYBACK, notifications[1].argument);
    EXPECT_EQ(0, notifications[1].playing);
    EXPECT_EQ(0, fake::PlaybackHookInstalled());
    // A second playback starts again from the first event.
    EXPECT_EQ(expected, PlayedDelays());
}

TEST_F(JournalRecorderTest, PlaybackRecordsGoOutAsRecordedAndARepeatedAskWaitsNothing) {
    RecordTimes({500, 700});
    ASSERT_EQ(1, recorder->StartPlayback());
    platform::EventRecord record = {};
    EXPECT_EQ(0, fake::CallPlaybackHook(HC_GETNEXT, &record));
    EXPECT_EQ(500u, record.time);
    fake::CallPlaybackHook(HC_SKIP);
    EXPECT_EQ(200, fake::CallPlaybackHook(HC_GETNEXT, &record));
    EXPECT_EQ(0, fake::CallPlaybackHook(HC_GETNEXT, &record));
    EXPECT_EQ(WM_KEYDOWN, record.message);
    EXPECT_EQ(700u, record.time);
    EXPECT_EQ(0x1234u, record.hwnd);

    // Paused: nothing is written and a skip does not advance.
    fake::CallPlaybackHook(HC_SYSMODALON);
    platform::EventRecord untouched = {77, 77, 77, 77, 77};
    EXPECT_EQ(0, fake::CallPlaybackHook(HC_GETNEXT, &untouched));
    EXPECT_EQ(77u, untouched.time);
    fake::CallPlaybackHook(HC_SKIP);
    EXPECT_EQ(1, recorder->IsPlaying());
    fake::CallPlaybackHook(HC_SYSMODALOFF);
    EXPECT_EQ(0, fake::CallPlaybackHook(3));
    fake::CallPlaybackHook(HC_SKIP);
    EXPECT_EQ(0, recorder->IsPlaying());

    // A record of message 0 (a file may hold one) goes out as nothing to inject, never as a wait
    // that the playback would ask about again and again.
    ASSERT_EQ(1, recorder->StartRecording());
    fake::RecordEvent({0, 0, 0, 100, 0});
    fake::RecordEvent(Key(150));
    ASSERT_EQ(1, recorder->Stop());
    ASSERT_EQ(1, recorder->StartPlayback());
    std::vector<fake::Played> played = fake::PlayAll(5);
    ASSERT_EQ(2u, played.size());
    EXPECT_EQ(0x12u, played[0].record.message);
    EXPECT_EQ(50u, played[1].delay);
}

TEST_F(JournalRecorderTest, SpeedsScaleDelaysWithoutEverWrapping) {
    RecordTimes({0, 100});
    recorder->SetSpeed(SpeedKind::Faster);
    EXPECT_EQ(50u, PlayedDelays()[1]);
    recorder->SetSpeed(SpeedKind::Normal);
    recorder->SetSpeed(SpeedKind::Slower);
    EXPECT_EQ(200u, PlayedDelays()[1]);

    // Five Higher Speed steps reach 0; doubling 0 stays 0; Normal restores.
    recorder->SetSpeed(SpeedKind::Normal);
    for (int i = 0; i < 5; i++)
        recorder->SetSpeed(SpeedKind::Faster);
    EXPECT_EQ(0, recorder->GetSpeed());
    recorder->SetSpeed(SpeedKind::Slower);
    EXPECT_EQ(0u, PlayedDelays()[1]);
    recorder->SetSpeed(static_cast<SpeedKind>(99));  // no such kind: no change
    EXPECT_EQ(0, recorder->GetSpeed());
    recorder->SetSpeed(SpeedKind::Normal);
    EXPECT_EQ(16, recorder->GetSpeed());

    // Lower Speed never makes playback faster, however often it is chosen.
    uint32_t previous = 100;
    for (int i = 0; i < 40; i++) {
        recorder->SetSpeed(SpeedKind::Slower);
        uint32_t delay = PlayedDelays()[1];
        EXPECT_GE(delay, previous);
        previous = delay;
    }
    EXPECT_GT(recorder->GetSpeed(), 0);
}

TEST_F(JournalRecorderTest, LongGapAtSlowSpeedIsCappedInsteadOfWrapping) {
    RecordTimes({0, 0x70000000u});
    for (int i = 0; i < 4; i++)
        recorder->SetSpeed(SpeedKind::Slower);
    EXPECT_EQ(0x7FFFFFFFu, PlayedDelays()[1]);
    // Time stamps that wrap round the 32-bit tick count still give the real gap.
    RecordTimes({0xFFFFFF00u, 0x00000010u});
    recorder->SetSpeed(SpeedKind::Normal);
    EXPECT_EQ(0x110u, PlayedDelays()[1]);
}

TEST_F(JournalRecorderTest, AStepBackInTimeIsPlayedAsNoPause) {
    const struct {
        std::vector<uint32_t> times;
        std::vector<uint32_t> delays;
    } kCases[] = {
        {{1000, 500, 700}, {0, 0, 200}},
        {{0x10, 0xFFFFFF00u, 0xFFFFFF20u}, {0, 0, 0x20}},  // back across the wrap
        {{0, 0x80000000u, 0x80000001u}, {0, 0, 1}},        // half the clock away counts as back
        {{0, 0x7FFFFFFFu}, {0, 0x7FFFFFFFu}},
    };
    for (const auto& c : kCases) {
        RecordTimes(c.times);
        EXPECT_EQ(c.delays, PlayedDelays());
    }
}

// The limit counts from the start, by the clock, idle or not, and what came after it goes.
TEST_F(JournalRecorderTest, TimeLimitStopsAtItsMinuteFromTheStartIdleOrNot) {
    fake::SetInputClock(1000);
    ASSERT_EQ(1, recorder->StartRecording());
    fake::RecordEvent(Key(1500));
    fake::SetInputClock(61000);  // exactly one minute, nothing done since
    recorder->CheckTimeLimit();
    EXPECT_EQ(1, recorder->IsRecording());
    fake::RecordEvent(Key(61000));
    fake::RecordEvent(Key(61400));  // past it, before the tick
    fake::SetInputClock(61900);
    recorder->CheckTimeLimit();
    EXPECT_EQ(0, recorder->IsRecording());
    ASSERT_FALSE(notifications.empty());
    EXPECT_EQ(JOURNAL_STOPPED, notifications.back().code);
    EXPECT_EQ(STOPPED_RECORDING, notifications.back().argument);
    EXPECT_EQ(2u, recorder->GetCount());
    EXPECT_EQ(61000u, recorder->GetHead()->next->record.time);
}

TEST_F(JournalRecorderTest, StatusTextsFollowTheState) {
    EXPECT_STREQ("Now is [Stoped][No Record].", recorder->GetStatusText());
    ASSERT_EQ(1, recorder->StartRecording());
    EXPECT_STREQ("Now is [Recording].", recorder->GetStatusText());
    fake::RecordEvent(Key(1));
    recorder->Stop();
    EXPECT_STREQ("Now is [Stoped][Have Record].", recorder->GetStatusText());
    recorder->StartPlayback();
    EXPECT_STREQ("Now is [Stoped][Have Record].", recorder->GetStatusText());
    recorder->Stop();
    EXPECT_EQ(1, recorder->Clear());
    EXPECT_STREQ("Now is [Stoped][No Record].", recorder->GetStatusText());
}

TEST_F(JournalRecorderTest, TimerRunsForTheRecordersLife) {
    ASSERT_EQ(1u, fake::Timers().size());
    EXPECT_EQ(static_cast<uintptr_t>(TIMER_TIMELIMIT), fake::Timers()[0].id);
    EXPECT_EQ(1000u, fake::Timers()[0].period);
    delete recorder;
    recorder = nullptr;
    EXPECT_TRUE(fake::Timers().empty());
}

TEST_F(JournalRecorderTest, DestructionStopsARunningRecordingWithItsNotification) {
    ASSERT_EQ(1, recorder->StartRecording());
    fake::RecordEvent(Key(1));
    delete recorder;
    recorder = nullptr;
    ASSERT_EQ(2u, notifications.size());
    EXPECT_EQ(JOURNAL_STOPPED, notifications[1].code);
    EXPECT_EQ(STOPPED_RECORDING, notifications[1].argument);
    EXPECT_EQ(0, fake::RecordHookInstalled());
}

TEST_F(JournalRecorderTest, StopNotificationMayDestroyTheRecorder) {
    RecordTimes({1, 2, 3});
    destroyOnStop = true;
    EXPECT_EQ(3u, PlayedDelays().size());  // the last skip destroys it from inside the hook
    recorder = nullptr;

    recorder = new JournalRecorder(nullptr, window, 1, "");
    ASSERT_EQ(1, recorder->StartRecording());
    fake::RecordEvent(Key(0));
    fake::RecordEvent(Key(70000));
    destroyOnStop = true;
    recorder->CheckTimeLimit();
    recorder = nullptr;
    const fake::Call saverBack{"SetSystemParameter", {SPI_SETSCREENSAVEACTIVE, 1}};
    const std::vector<fake::Call>& calls = fake::CallLog();
    EXPECT_GE(std::count(calls.begin(), calls.end(), saverBack), 2);
}

}  // namespace

namespace {

TEST_F(JournalRecorderTest, FasterSpeedsKeepToTheScaledTimelineInWholeMilliseconds) {
    std::vector<uint32_t> times;
    uint32_t time = 1000;
    for (int i = 0; i < 1000; i++) {
        times.push_back(time);
        time += i % 2 ? 1u : 5u;
    }
    RecordTimes(times);
    recorder->SetSpeed(SpeedKind::Faster);
    std::vector<uint32_t> delays = PlayedDelays();
    ASSERT_EQ(times.size(), delays.size());
    // Half of every gap, with the halves of odd gaps carried rather than dropped: the sum of
    // the delays never strays a millisecond from the scaled timeline.
    uint64_t waited = 0;
    for (size_t i = 1; i < times.size(); i++) {
        waited += delays[i];
        double exact = (times[i] - times[0]) / 2.0;
        EXPECT_LE(waited, exact);
        EXPECT_GT(waited + 1, exact);
    }
    recorder->SetSpeed(SpeedKind::Normal);
    delays = PlayedDelays();
    EXPECT_EQ(5u, delays[1]);
    EXPECT_EQ(1u, delays[2]);
}

// The events a playback handed out, each with the time waited since the one before it: the
// waits for its moment and for its window added up.
std::vector<fake::Played> Events(const std::vector<fake::Played>& played) {
    std::vector<fake::Played> events;
    uint32_t waited = 0;
    for (const fake::Played& next : played) {
        waited += next.delay;
        if (next.record.message != platform::kWaitEvent) {
            events.push_back({next.record, waited});
            waited = 0;
        }
    }
    return events;
}

fake::TopWindow FakeWindow(uintptr_t handle, const char* title, platform::WindowRect rect) {
    fake::TopWindow w = {reinterpret_cast<platform::WindowHandle>(handle), {}};
    snprintf(w.info.program, sizeof w.info.program, "ledger.exe");
    snprintf(w.info.windowClass, sizeof w.info.windowClass, "LedgerMain");
    snprintf(w.info.title, sizeof w.info.title, "%s", title);
    w.info.rect = rect;
    w.info.dpi = 96;
    return w;
}

// Mouse events belong to the window under the pointer, keys to the foreground window; a
// window is described once while it stays where it was, and keeps its one entry where it moves.
TEST_F(JournalRecorderTest, RecordedEventsNameTheirWindowsDescribingEachOnce) {
    fake::TopWindow main = FakeWindow(1, "Accounts", {0, 0, 400, 300});
    fake::TopWindow dialog = FakeWindow(2, "Save As", {500, 0, 800, 300});
    fake::SetTopWindows({main, dialog});
    fake::SetForegroundWindow(dialog.handle);
    const struct {
        platform::EventRecord event;
        uint32_t window;
        int describes;  // in all so far
    } kSteps[] = {
        {{WM_MOUSEMOVE, 10, 10, 1, 0}, 1, 1},   {{WM_LBUTTONDOWN, 20, 20, 2, 0}, 1, 1},
        {{WM_KEYDOWN, 'A', 1, 3, 0}, 2, 2},     {{WM_MOUSEWHEEL | 120u << 16, 600, 10, 4, 0}, 2, 3},
        {{WM_MOUSEMOVE, 900, 900, 5, 0}, 0, 3},  // over no window
        {{0x0301, 0, 0, 6, 0}, 0, 3},            // neither a key nor the mouse
        {{WM_KEYUP, 'A', 1, 7, 0}, 2, 3},
    };
    ASSERT_EQ(1, recorder->StartRecording());
    for (const auto& step : kSteps) {
        fake::RecordEvent(step.event);
        EXPECT_EQ(step.describes, fake::DescribeCount()) << step.event.time;
    }
    main.info.rect = {0, 0, 200, 300};  // resized: the same window, at a place of its own
    fake::SetTopWindows({main, dialog});
    fake::RecordEvent({WM_MOUSEMOVE, 10, 10, 8, 0});
    ASSERT_EQ(1, recorder->Stop());

    const journal::EventNote* notes = recorder->GetNotes().notes;
    const JournalEvent* event = recorder->GetHead();
    for (const auto& step : kSteps) {
        ASSERT_NE(nullptr, event);
        EXPECT_EQ(step.window, event->note ? notes[event->note - 1].window : 0) << step.event.time;
        event = event->next;
    }
    EXPECT_EQ(1u, notes[event->note - 1].window);
    EXPECT_EQ(200, notes[event->note - 1].rect.right);
    EXPECT_EQ(0, notes[recorder->GetHead()->note - 1].rect.left);
    EXPECT_EQ(4, fake::DescribeCount());
    ASSERT_EQ(2u, recorder->GetWindows().count);
    EXPECT_STREQ("Save As", recorder->GetWindows().entries[1].title);
}

}  // namespace

// A click recorded in a window, and a key typed into it, replayed against the windows there are
// now: the point keeps its place in its window, and both wait for a window that comes late.
TEST_F(JournalRecorderTest, ReplayFindsTheRecordedWindowWhereverItIsNow) {
    fake::TopWindow other = FakeWindow(9, "Accounts", {0, 0, 50, 50});
    snprintf(other.info.program, sizeof other.info.program, "other.exe");
    fake::TopWindow scaled = FakeWindow(2, "Accounts", {1920, 0, 2520, 450});
    scaled.info.dpi = 144;
    const struct {
        const char* name;
        std::vector<fake::TopWindow> live;
        int appearsAfter;  // looks before the windows are there; -1: never
        uint32_t waits;    // looks that find nothing; 100: the longest wait, 10 s
        int32_t x, y;      // where the click lands
    } kCases[] = {
        {"in place", {FakeWindow(1, "Accounts", {100, 100, 500, 400})}, 0, 0, 150, 120},
        {"moved", {FakeWindow(2, "Accounts", {-300, 50, 100, 350})}, 0, 0, -250, 70},
        {"resized", {FakeWindow(2, "Accounts", {100, 100, 900, 700})}, 0, 0, 150, 120},
        {"renamed, the only one",
         {FakeWindow(2, "Accounts *", {200, 100, 600, 400})},
         0,
         0,
         250,
         120},
        {"the titled one of two",
         {FakeWindow(2, "Other", {0, 0, 400, 300}), FakeWindow(3, "Accounts", {10, 0, 410, 300})},
         0,
         0,
         60,
         20},
        {"two without the title",
         {FakeWindow(2, "A", {0, 0, 9, 9}), FakeWindow(3, "B", {0, 0, 9, 9})},
         0,
         100,
         150,
         120},
        {"another program's", {other}, 0, 100, 150, 120},
        {"on a monitor at 150 %", {scaled}, 0, 0, 1995, 30},
        {"late", {FakeWindow(2, "Accounts", {300, 300, 700, 600})}, 20, 20, 350, 320},
        {"never", {}, -1, 100, 150, 120},
    };
    fake::TopWindow recorded = FakeWindow(1, "Accounts", {100, 100, 500, 400});
    for (const auto& c : kCases) {
        fake::SetTopWindows({recorded});
        fake::SetForegroundWindow(recorded.handle);
        ASSERT_EQ(1, recorder->StartRecording());
        fake::RecordEvent({WM_LBUTTONDOWN, 150, 120, 1000, 0});
        fake::RecordEvent({WM_KEYDOWN, 'A', 1, 1040, 0});
        fake::RecordEvent({WM_LBUTTONUP, 150, 120, 1050, 0});
        ASSERT_EQ(1, recorder->Stop());

        fake::SetTopWindows({});
        fake::SetForegroundWindow(nullptr);
        ASSERT_EQ(1, recorder->StartPlayback());
        // The first question is the wait for the click's moment; each look after it is a wait.
        std::vector<fake::Played> played =
            fake::PlayAll(static_cast<size_t>(std::max(c.appearsAfter, 0)) + 1);
        fake::SetTopWindows(c.appearsAfter >= 0 ? c.live : std::vector<fake::TopWindow>());
        if (!c.live.empty())
            fake::SetForegroundWindow(c.live.back().handle);
        for (const fake::Played& more : fake::PlayAll())
            played.push_back(more);

        // A look that finds nothing waits, and the recorded gaps follow it.
        std::vector<fake::Played> events = Events(played);
        ASSERT_EQ(3u, events.size()) << c.name;
        EXPECT_EQ(c.waits * journal::kLookAgainMs, events[0].delay) << c.name;
        EXPECT_EQ(WM_LBUTTONDOWN, events[0].record.message) << c.name;
        EXPECT_EQ(c.x, static_cast<int32_t>(events[0].record.paramL)) << c.name;
        EXPECT_EQ(c.y, static_cast<int32_t>(events[0].record.paramH)) << c.name;
        EXPECT_EQ(40u, events[1].delay) << c.name;
        EXPECT_EQ(static_cast<uint32_t>(c.x), events[2].record.paramL) << c.name;
        EXPECT_EQ(10u, events[2].delay) << c.name;
    }
}

// A key waits until its window has the keyboard, however the window is found; a drag moves by
// the recorded distances even when its own window moves under it; and Follow off plays every
// point where it was recorded.
TEST_F(JournalRecorderTest, KeysWaitForTheirWindowAndDragsKeepTheirShift) {
    fake::TopWindow editor = FakeWindow(1, "Accounts", {100, 100, 500, 400});
    fake::TopWindow other = FakeWindow(2, "Notes", {600, 0, 900, 300});
    fake::SetTopWindows({editor, other});
    fake::SetForegroundWindow(editor.handle);
    ASSERT_EQ(1, recorder->StartRecording());
    fake::RecordEvent({WM_KEYDOWN, 'A', 1, 1000, 0});
    fake::RecordEvent({WM_LBUTTONDOWN, 150, 110, 1010, 0});
    editor.info.rect = {300, 100, 700, 400};  // dragged by its title
    fake::SetTopWindows({editor, other});
    fake::RecordEvent({WM_MOUSEMOVE, 350, 110, 1020, 0});
    fake::RecordEvent({WM_LBUTTONUP, 350, 110, 1030, 0});
    ASSERT_EQ(1, recorder->Stop());

    editor.info.rect = {0, 0, 400, 300};
    fake::SetTopWindows({editor, other});
    fake::SetForegroundWindow(other.handle);
    ASSERT_EQ(1, recorder->StartPlayback());
    std::vector<fake::Played> played = fake::PlayAll(3);
    EXPECT_EQ(platform::kWaitEvent, played[2].record.message);
    fake::SetForegroundWindow(editor.handle);
    for (const fake::Played& more : fake::PlayAll(3))  // the key, and the press at its moment
        played.push_back(more);
    editor.info.rect = {500, 0, 900, 300};  // the window follows the replayed drag
    fake::SetTopWindows({editor, other});
    for (const fake::Played& more : fake::PlayAll())
        played.push_back(more);
    std::vector<fake::Played> events = Events(played);
    ASSERT_EQ(4u, events.size());
    EXPECT_EQ(WM_KEYDOWN, events[0].record.message);
    const int32_t kDrag[][2] = {{50, 10}, {250, 10}, {250, 10}};
    for (size_t i = 0; i < 3; i++) {
        EXPECT_EQ(kDrag[i][0], static_cast<int32_t>(events[1 + i].record.paramL)) << i;
        EXPECT_EQ(kDrag[i][1], static_cast<int32_t>(events[1 + i].record.paramH)) << i;
    }

    recorder->SetWindowFollowing(false, 0);
    ASSERT_EQ(1, recorder->StartPlayback());
    played = fake::PlayAll();
    ASSERT_EQ(4u, played.size());
    EXPECT_EQ(150u, played[1].record.paramL);
}

// Play plays as often as asked: each pass on the recorded gaps, the pause between passes scaled
// like any gap, the pass posted for the sound track and told by the status text.
TEST_F(JournalRecorderTest, RepeatedPlaybackKeepsEveryPassOnTheTimeline) {
    // The default pause is the one the user left before stopping; a file does not know it, and
    // takes its last gap.
    ASSERT_EQ(1, recorder->StartRecording());
    for (uint32_t time : {1000u, 1100u, 1130u})
        fake::RecordEvent(Key(time));
    fake::SetInputClock(1200);
    ASSERT_EQ(1, recorder->Stop());
    EXPECT_EQ(70u, recorder->GetRepeatPause());
    ASSERT_EQ(1, recorder->Save(Path("repeat.Jnf").c_str()));
    ASSERT_EQ(1, recorder->Load(Path("repeat.Jnf").c_str()));
    EXPECT_EQ(30u, recorder->GetRepeatPause());
    notifications.clear();
    fake::ClearCallLog();
    const struct {
        uint32_t times;
        bool lastGap;
        uint32_t pause;
        int32_t speedSteps;  // Higher Speed steps
        std::vector<uint32_t> delays;
    } kCases[] = {
        // Each pass leaves its key down: it is let go of (0) before the pause.
        {1, true, 0, 0, {0, 100, 30}},
        {3, true, 0, 0, {0, 100, 30, 0, 30, 100, 30, 0, 30, 100, 30}},
        {2, false, 500, 0, {0, 100, 30, 0, 500, 100, 30}},
        {2, false, 500, 1, {0, 50, 15, 0, 250, 50, 15}},
    };
    for (const auto& c : kCases) {
        recorder->SetRepeat(c.times, c.lastGap, c.pause);
        for (int32_t i = 0; i < c.speedSteps; i++)
            recorder->SetSpeed(SpeedKind::Faster);
        EXPECT_EQ(c.delays, PlayedDelays()) << c.times << " " << c.pause;
        recorder->SetSpeed(SpeedKind::Normal);
    }
    std::vector<fake::Call> posts = fake::CallsOf("PostToWindow");
    // Passes 2 and 3 of the second case, 2 of the third and of the fourth.
    ASSERT_EQ(4u, posts.size());
    EXPECT_EQ(std::vector<int64_t>({WM_JOURNALSTATE, JOURNAL_PASS, 3}), posts[1].args);
    fake::ClearCallLog();

    // Until stopped: the pass counts on, and a Stop ends it between passes as within one.
    recorder->SetRepeat(0, true, 0);
    ASSERT_EQ(1, recorder->StartPlayback());
    EXPECT_EQ(7u, fake::PlayAll(7).size());
    EXPECT_STREQ("Now is [Stoped][Have Record]. 3", recorder->GetStatusText());
    ASSERT_EQ(1, recorder->Stop());
    EXPECT_FALSE(recorder->IsPlaying());
    recorder->SetRepeat(5, true, 0);
    ASSERT_EQ(1, recorder->StartPlayback());
    EXPECT_STREQ("Now is [Stoped][Have Record]. 1/5", recorder->GetStatusText());
    ASSERT_EQ(1, recorder->Stop());
    EXPECT_STREQ("Now is [Stoped][Have Record].", recorder->GetStatusText());
}

namespace {

platform::EventRecord KeyAt(uint32_t message, uint32_t key, uint32_t time) {
    return {message, key, 1, time, 0};
}

// A replay passes over every press of one of the program's hotkeys, with the modifiers the
// replay holds at that moment, and over its repeats and release; the next delay spans their time.
TEST_F(JournalRecorderTest, AReplayNeverPressesTheProgramsHotkeys) {
    const uint32_t D = WM_KEYDOWN, U = WM_KEYUP, SD = WM_SYSKEYDOWN, SU = WM_SYSKEYUP;
    const uint32_t kCtrl = 0x11, kAlt = 0x12, kShift = 0xA0;  // a sided key counts as either
    const struct {
        const char* name;
        std::vector<std::pair<uint32_t, uint32_t>> events;  // 10 ms apart
        std::vector<size_t> played;                         // their indexes
    } kCases[] = {
        {"a chord in the middle, its key repeated",
         {{D, 'A'},
          {U, 'A'},
          {D, kCtrl},
          {SD, kAlt},
          {SD, kShift},
          {SD, 'S'},
          {SD, 'S'},
          {SU, 'S'},
          {U, kCtrl},
          {U, kAlt},
          {U, kShift},
          {D, 'B'}},
         {0, 1, 2, 3, 4, 8, 9, 10, 11}},
        {"only some of the modifiers held",
         {{D, kCtrl}, {D, kShift}, {D, 'S'}, {U, 'S'}, {U, kShift}, {D, kAlt}, {D, 'R'}},
         {0, 1, 2, 3, 4, 5, 6}},
        {"a modifier let go of before the key",
         {{D, kCtrl}, {D, kAlt}, {D, kShift}, {U, kAlt}, {D, 'P'}, {U, 'P'}},
         {0, 1, 2, 3, 4, 5}},
        {"the stop chord at the end",
         {{D, 'A'}, {D, kCtrl}, {D, kAlt}, {D, kShift}, {D, 0x2E}},
         {0, 1, 2, 3}},
    };
    for (const auto& c : kCases) {
        ASSERT_EQ(1, recorder->StartRecording());
        uint32_t time = 500;
        for (const auto& [message, key] : c.events)
            fake::RecordEvent(KeyAt(message, key, time += 10));
        ASSERT_EQ(1, recorder->Stop());
        recorder->SetHotkeys(journal::kHotkeys, std::size(journal::kHotkeys));
        ASSERT_EQ(1, recorder->StartPlayback());
        std::vector<size_t> played;
        uint32_t waited = 0;
        for (const fake::Played& p : fake::PlayAll()) {
            waited += p.delay;
            played.push_back((p.record.time - 510) / 10);
            EXPECT_EQ(p.record.time - 510, waited) << c.name << ": the timeline is kept";
        }
        EXPECT_EQ(c.played, played) << c.name;
        EXPECT_EQ(0, recorder->IsPlaying()) << c.name;
    }
}

}  // namespace

// A pass of a repeat begins as the first did: a window given up in one pass is looked for again
// in the next, keys one pass left held go up before the pause, so the hotkey filter of the next
// pass takes its first key for the key it is.
TEST_F(JournalRecorderTest, EveryPassOfARepeatBeginsAfresh) {
    fake::TopWindow ledger = FakeWindow(1, "Accounts", {100, 100, 500, 400});
    fake::SetTopWindows({ledger});
    fake::SetForegroundWindow(nullptr);
    ASSERT_EQ(1, recorder->StartRecording());
    fake::RecordEvent({WM_LBUTTONDOWN, 150, 120, 1000, 0});
    fake::RecordEvent({WM_LBUTTONUP, 150, 120, 1010, 0});
    fake::RecordEvent(KeyAt(WM_KEYDOWN, 'R', 1020));
    fake::RecordEvent(KeyAt(WM_KEYUP, 'R', 1030));
    for (uint32_t key : {0x11u, 0x12u, 0x10u})  // the old stop chord's modifiers, still down
        fake::RecordEvent(KeyAt(WM_KEYDOWN, key, 1040));
    ASSERT_EQ(1, recorder->Stop());
    recorder->SetHotkeys(journal::kHotkeys, std::size(journal::kHotkeys));
    recorder->SetRepeat(2, false, 100);

    fake::SetTopWindows({});  // not there in the first pass: given up after the longest wait
    ASSERT_EQ(1, recorder->StartPlayback());
    std::vector<fake::Played> played = fake::PlayAll(102);
    ledger.info.rect = {300, 300, 700, 600};
    fake::SetTopWindows({ledger});
    for (const fake::Played& more : fake::PlayAll())
        played.push_back(more);
    std::vector<fake::Played> events = Events(played);
    ASSERT_EQ(17u, events.size());
    EXPECT_EQ(150u, events[0].record.paramL);  // where it was recorded
    for (size_t i = 7; i < 10; i++) {
        EXPECT_EQ(WM_KEYUP, events[i].record.message) << i;
        EXPECT_EQ(0u, events[i].delay) << i;
    }
    EXPECT_EQ(350u, events[10].record.paramL);  // found again, moved
    EXPECT_EQ(100u, events[10].delay);          // the pause, after the releases
    EXPECT_EQ(WM_KEYDOWN, events[12].record.message);
    EXPECT_EQ('R', events[12].record.paramL & 0xFF);
}

// A drag with both X buttons down goes on, keeping its shift, until the last of them is let go.
TEST_F(JournalRecorderTest, ADragHoldsUntilItsLastXButtonIsLetGo) {
    fake::TopWindow ledger = FakeWindow(1, "Accounts", {100, 100, 500, 400});
    fake::SetTopWindows({ledger});
    ASSERT_EQ(1, recorder->StartRecording());
    fake::RecordEvent({WM_XBUTTONDOWN | 1u << 16, 150, 110, 1000, 0});
    fake::RecordEvent({WM_XBUTTONDOWN | 2u << 16, 150, 110, 1010, 0});
    fake::RecordEvent({WM_XBUTTONUP | 1u << 16, 150, 110, 1020, 0});
    fake::RecordEvent({WM_MOUSEMOVE, 250, 110, 1030, 0});
    fake::RecordEvent({WM_XBUTTONUP | 2u << 16, 250, 110, 1040, 0});
    ASSERT_EQ(1, recorder->Stop());
    ledger.info.rect = {0, 0, 400, 300};
    fake::SetTopWindows({ledger});
    ASSERT_EQ(1, recorder->StartPlayback());
    std::vector<fake::Played> played = fake::PlayAll(2);  // the wait, then the first press
    ledger.info.rect = {500, 0, 900, 300};                // moved by the drag
    fake::SetTopWindows({ledger});
    for (const fake::Played& more : fake::PlayAll())
        played.push_back(more);
    std::vector<fake::Played> events = Events(played);
    ASSERT_EQ(5u, events.size());
    EXPECT_EQ(150, static_cast<int32_t>(events[3].record.paramL));
    EXPECT_EQ(10, static_cast<int32_t>(events[3].record.paramH));
}

// A window that keeps moving keeps its one entry: where it stood goes with each event, so an
// animation of any length leaves the table to the windows, and its clicks land in it on replay.
TEST_F(JournalRecorderTest, AWindowThatKeepsMovingKeepsItsOneEntry) {
    fake::TopWindow ledger = FakeWindow(1, "Accounts", {100, 100, 500, 400});
    fake::TopWindow other = FakeWindow(2, "Notes", {600, 0, 900, 300});
    ASSERT_EQ(1, recorder->StartRecording());
    for (uint32_t i = 0; i < 3000; i++) {  // past the table's 1,024
        ledger.info.rect = {100 + int32_t(i % 50), 100, 500 + int32_t(i % 50), 400};
        fake::SetTopWindows({ledger, other});
        fake::RecordEvent({WM_MOUSEMOVE, 200 + i % 50, 200, 1000 + i, 0});
    }
    fake::RecordEvent({WM_LBUTTONDOWN, 650, 50, 5000, 0});  // a window first seen now
    ASSERT_EQ(1, recorder->Stop());
    ASSERT_EQ(2u, recorder->GetWindows().count);
    ASSERT_EQ(1, recorder->Save(Path("moving.Jnf").c_str()));
    ASSERT_EQ(1, recorder->Load(Path("moving.Jnf").c_str()));

    ledger.info.rect = {0, 0, 400, 300};
    other.info.rect = {500, 500, 800, 800};
    fake::SetTopWindows({ledger, other});
    ASSERT_EQ(1, recorder->StartPlayback());
    std::vector<fake::Played> events = Events(fake::PlayAll());
    ASSERT_EQ(3001u, events.size());
    for (size_t i : {0u, 1u, 2999u}) {  // each 100 into its window as it stood then
        EXPECT_EQ(100, static_cast<int32_t>(events[i].record.paramL)) << i;
        EXPECT_EQ(100, static_cast<int32_t>(events[i].record.paramH)) << i;
    }
    EXPECT_EQ(550, static_cast<int32_t>(events[3000].record.paramL));
}

// A square the screen pictures can tell apart, and from itself moved: 4-pixel cells, black or
// white as a fixed sequence has it.
void PaintTarget(int32_t left, int32_t top, uint32_t shownAfter = 0) {
    uint32_t bits = 0x2545F491;
    for (int32_t y = 0; y < 40; y += 4) {
        for (int32_t x = 0; x < 40; x += 4) {
            bits = bits * 1103515245 + 12345;
            uint32_t colour = bits >> 31 ? 0x000000 : 0xFFFFFF;
            fake::PaintRect({left + x, top + y, left + x + 4, top + y + 4}, colour, shownAfter);
        }
    }
}

// A press recorded with a picture of what was under the pointer waits for it on replay: pressed
// at once where it is, where it moved in its window (its drag with it), once it is drawn; where
// it was placed once the longest wait has passed, after which its window's presses wait no more;
// and a pause before it may end as soon as it is there.
TEST_F(JournalRecorderTest, APressWaitsUntilTheScreenShowsWhatItPressed) {
    fake::TopWindow ledger = FakeWindow(1, "Accounts", {100, 100, 500, 400});
    const struct {
        const char* name;
        int32_t left, top;  // where the target is painted for the replay
        uint32_t shownAfter;
        bool goOn;
        uint32_t firstDelay;  // of the press, waits included
        int32_t x, y;         // where it goes
    } kCases[] = {
        {"in place", 200, 200, 0, false, 3000, 216, 216},
        {"moved in its window", 300, 150, 0, false, 3000, 316, 166},
        // Each look takes the square and then the window: drawn at the third look.
        {"drawn late", 200, 200, 5, false, 3000 + 2 * journal::kScreenLookMs, 216, 216},
        {"never drawn", -1, 0, 0, false, 3000 + 1000, 216, 216},  // the longest wait here
        {"ready before the pause ends", 200, 200, 0, true, journal::kScreenLookMs, 216, 216},
    };
    for (const auto& c : kCases) {
        fake::ResetScreen();
        PaintTarget(200, 200);
        fake::SetTopWindows({ledger});
        ASSERT_EQ(1, recorder->StartRecording());
        fake::RecordEvent({WM_MOUSEMOVE, 216, 216, 1000, 0});
        fake::RecordEvent({WM_LBUTTONDOWN, 216, 216, 4000, 0});
        fake::RecordEvent({WM_LBUTTONUP, 226, 216, 4010, 0});
        fake::RecordEvent({WM_LBUTTONDOWN, 216, 216, 4100, 0});
        ASSERT_EQ(1, recorder->Stop());

        fake::ResetScreen();
        if (c.left >= 0)
            PaintTarget(c.left, c.top, c.shownAfter);
        recorder->SetScreenWaiting(true, c.goOn);
        recorder->SetWindowFollowing(true, 1000);
        ASSERT_EQ(1, recorder->StartPlayback());
        std::vector<fake::Played> events = Events(fake::PlayAll());
        ASSERT_EQ(4u, events.size()) << c.name;
        EXPECT_EQ(c.firstDelay, events[1].delay) << c.name;
        EXPECT_EQ(c.x, static_cast<int32_t>(events[1].record.paramL)) << c.name;
        EXPECT_EQ(c.y, static_cast<int32_t>(events[1].record.paramH)) << c.name;
        EXPECT_EQ(c.x + 10, static_cast<int32_t>(events[2].record.paramL)) << c.name;
        EXPECT_EQ(90u, events[3].delay) << c.name << ": the second press waited";
    }
    recorder->SetScreenWaiting(true, false);
    recorder->SetWindowFollowing(true, journal::kDefaultLongestWaitMs);
}

// A move keeps the counts raw input had for it. Where the program had the cursor hidden or
// confined, or kept putting it back, the replay plays it as motion (and keys there by scan code),
// elsewhere by place; the user may choose either for the whole.
TEST_F(JournalRecorderTest, MovesPlayByMotionWhereAProgramTookTheMouse) {
    const uint32_t kHidden = platform::kMotionCursorHidden;
    struct Motion {
        int32_t x, y, dx, dy;
        uint32_t flags;
    };
    const Motion kMotions[] = {
        {110, 100, 10, 0, 0},        // a desktop move: by place
        {120, 105, 10, 5, kHidden},  // a game's: by motion
        {507, 400, 7, 0, 0},         // put back at 500,400 after each motion...
        {495, 400, -5, 0, 0},       {503, 401, 3, 1, 0},
        {508, 402, 8, 2, 0},  // ... three times in a row: by motion
    };
    ASSERT_EQ(1, recorder->StartRecording());
    uint32_t time = 1000;
    for (const Motion& m : kMotions) {
        fake::RecordEvent({WM_MOUSEMOVE, uint32_t(m.x), uint32_t(m.y), time += 10, 0});
        platform::MotionRecord counts = {m.dx, m.dy, m.flags};
        fake::CallRecordHook(platform::kMotionCode, reinterpret_cast<intptr_t>(&counts));
    }
    fake::RecordEvent(KeyAt(WM_KEYDOWN, 'W', time += 10));
    ASSERT_EQ(1, recorder->Stop());
    ASSERT_EQ(1, recorder->Save(Path("motion.Jnf").c_str()));
    ASSERT_EQ(1, recorder->Load(Path("motion.Jnf").c_str()));

    const uint32_t kMotion = WM_MOUSEMOVE | platform::kAsTheDeviceSent;
    const uint32_t kScanKey = WM_KEYDOWN | platform::kAsTheDeviceSent;
    const struct {
        MouseMode mode;
        std::vector<uint32_t> messages;
    } kCases[] = {
        {MouseMode::Recording,
         {WM_MOUSEMOVE, kMotion, WM_MOUSEMOVE, WM_MOUSEMOVE, WM_MOUSEMOVE, kMotion, kScanKey}},
        {MouseMode::Place,
         {WM_MOUSEMOVE, WM_MOUSEMOVE, WM_MOUSEMOVE, WM_MOUSEMOVE, WM_MOUSEMOVE, WM_MOUSEMOVE,
          WM_KEYDOWN}},
        {MouseMode::Motion, {kMotion, kMotion, kMotion, kMotion, kMotion, kMotion, kScanKey}},
    };
    for (const auto& c : kCases) {
        recorder->SetMouseMode(c.mode);
        ASSERT_EQ(1, recorder->StartPlayback());
        std::vector<fake::Played> played = fake::PlayAll();
        std::vector<uint32_t> messages;
        for (const fake::Played& p : played)
            messages.push_back(p.record.message);
        EXPECT_EQ(c.messages, messages) << static_cast<int>(c.mode);
        // Motion goes out as the counts, never at the point.
        uint32_t x = c.mode == MouseMode::Place ? 120 : 10,
                 y = c.mode == MouseMode::Place ? 105 : 5;
        EXPECT_EQ(x, played[1].record.paramL);
        EXPECT_EQ(y, played[1].record.paramH);
    }
    recorder->SetMouseMode(MouseMode::Recording);
}
