// Ending the program from every state, through its entry point over the fakes: Exit from the
// menu (opened by a click on the icon or by Ctrl+Alt+Shift+Delete), Ctrl+Alt+Shift+Delete in an
// automation run, and the end of an automation run. Each way ends with code 0, saves what it must
// exactly once (an automation recording; a tray session saves nothing by itself) and leaves no
// hook, timer, icon, window, file handle, sound device or audio buffer behind.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "app/shell.h"
#include "journal/journal_recorder.h"
#include "platform/fake/fake_file.h"
#include "platform/fake/fake_notify.h"
#include "platform/fake/fake_wave.h"
#include "platform/fake/fake_window.h"
#include "platform/program_ids.h"
#include "sound/sound_recorder.h"
#include "tests/common/case_name.h"
#include "tests/common/folder_test.h"
#include "tests/common/journal_image.h"
#include "tests/unit/fake_platform.h"
#include "tray/tray_icon.h"

namespace {

// What the loop does once start-up is over; the fake takes a plain function.
std::function<void()> idleScript;

void RunScript() {
    idleScript();
}

platform::WindowHandle Main() {
    return fake::LastCreatedWindow();
}

void Send(uint32_t message, uintptr_t wParam, intptr_t lParam = 0) {
    fake::Dispatch(Main(), message, wParam, lParam);
}

void RecordKeys(uint32_t count, uint32_t firstTime) {
    for (uint32_t i = 0; i < count; i++)
        fake::RecordEvent({WM_KEYDOWN + (i & 1), 'A' + i % 26, 1, firstTime + 10 * i, 0});
}

// Plays `count` events as the system would, leaving the playback running after them.
void PlayEvents(int count) {
    for (int i = 0; i < count && fake::PlaybackHookInstalled(); i++) {
        platform::EventRecord record;
        fake::CallPlaybackHook(HC_GETNEXT, &record);
        fake::CallPlaybackHook(HC_SKIP);
    }
}

class StopTest : public testkit::FolderTest {
  protected:
    void SetUp() override {
        ResetFakePlatform();
        EnterFolder();
        fake::SetLoopIdle(RunScript);
    }
    void TearDown() override { fake::ResetWave(); }

    // Runs the program to its end and checks what every way of ending leaves behind.
    void RunToExit(const char* argument) {
        EXPECT_EQ(0, AppMain(nullptr, argument, 1));
        EXPECT_EQ(1, fake::QuitPosted());
        EXPECT_EQ(0, fake::QuitCode());
        EXPECT_EQ(nullptr, shell.journalRecorder);
        EXPECT_EQ(nullptr, shell.soundRecorder);
        EXPECT_EQ(nullptr, shell.trayIcon);
        EXPECT_TRUE(shell.automationFileName.empty());
        EXPECT_EQ(nullptr, fake::InstalledHook());
        EXPECT_TRUE(fake::Timers().empty());
        EXPECT_EQ(0, fake::NotifyIconsShown());
        EXPECT_FALSE(fake::WindowExists(Main()));
        EXPECT_EQ(1u, fake::CallsOf("DestroyWindow").size());
        EXPECT_EQ(0, fake::OpenFileCount());
        EXPECT_EQ(0, fake::OpenWaveDevices());
        EXPECT_EQ(0, fake::LiveWaveBuffers());
        for (const std::string& fault : fake::WaveFaults())
            ADD_FAILURE() << "wave service: " << fault;
    }
};

enum State { kIdle, kRecording, kPlaying };
enum Sound { kSoundOn, kSoundOff, kNoDevice };

// Exit from the menu, a close from another program and the end of the session.
enum Way { kMenuExit, kClose, kSessionEnd };

// Ends the program the given way, as the system delivers it.
void EndThe(Way way) {
    if (way == kMenuExit) {
        fake::PostToLoop(Main(), WM_COMMAND, IDM_EXIT, 0);
    } else if (way == kClose) {
        fake::PostToLoop(Main(), WM_CLOSE, 0, 0);
    } else {
        EXPECT_NE(0, fake::Dispatch(Main(), WM_QUERYENDSESSION, 0, 0));
        fake::PostToLoop(Main(), WM_ENDSESSION, 1, 0);
    }
}

std::string Named(State state) {
    return state == kIdle ? "Idle" : state == kRecording ? "Recording" : "Playing";
}
std::string Named(Sound sound) {
    return sound == kSoundOn ? "SoundOn" : sound == kSoundOff ? "SoundOff" : "NoDevice";
}

// A tray session ended while it does one thing, with its sound in one state, its icon shown or
// hidden.
using TrayCase = std::tuple<State, Sound, bool>;
std::string TrayCaseName(const ::testing::TestParamInfo<TrayCase>& info) {
    return Named(std::get<0>(info.param)) + Named(std::get<1>(info.param)) +
           (std::get<2>(info.param) ? "Hidden" : "Shown");
}
class TrayStopTest : public StopTest, public ::testing::WithParamInterface<TrayCase> {};

TEST_P(TrayStopTest, ExitFromEveryStateSavesNothingAndLeavesNothing) {
    const State state = std::get<0>(GetParam());
    const Sound sound = std::get<1>(GetParam());
    const bool hidden = std::get<2>(GetParam());
    // The ways of ending take turns, so that each meets every state.
    const Way way = Way((state * 6 + sound * 2 + hidden) % 3);
    SCOPED_TRACE("way " + std::to_string(way));
    if (sound == kNoDevice)
        fake::SetWaveDevices(0, 0);
    idleScript = [&] {
        ASSERT_EQ(sound == kNoDevice ? 0 : 1,
                  fake::MenuEnabled(IDM_SOUND) & fake::MenuChecked(IDM_SOUND));
        if (sound == kSoundOff)
            Send(WM_COMMAND, IDM_SOUND);
        if (hidden)
            Send(WM_HOTKEY, HOTKEY_HIDE);
        if (state != kIdle) {
            Send(WM_HOTKEY, HOTKEY_RECORD);
            RecordKeys(3, 10);
            if (sound == kSoundOn) {
                // About 1.4 s of sound is recorded meanwhile.
                ASSERT_TRUE(fake::RunWave(30000));
            }
        }
        if (state == kPlaying) {
            Send(WM_HOTKEY, HOTKEY_STOP);
            Send(WM_HOTKEY, HOTKEY_PLAY);
            PlayEvents(1);
            if (sound == kSoundOn) {
                // The track plays for a moment.
                ASSERT_TRUE(fake::RunWave(1000));
            }
        }
        EXPECT_EQ(state == kRecording, fake::RecordHookInstalled() != 0);
        EXPECT_EQ(state == kPlaying, fake::PlaybackHookInstalled() != 0);
        EXPECT_EQ(state == kRecording && sound == kSoundOn, shell.soundRecorder->IsRecording());
        EXPECT_EQ(state == kPlaying && sound == kSoundOn, shell.soundRecorder->IsPlaying());
        // The menu opens from the icon, or from the hotkey while the icon is hidden.
        if (way == kMenuExit && hidden)
            Send(WM_HOTKEY, HOTKEY_MENU);
        else if (way == kMenuExit)
            Send(WM_TRAYNOTIFY, 0, WM_RBUTTONUP);
        EXPECT_EQ(way == kMenuExit, fake::PopupShownCount());
        EndThe(way);
    };
    RunToExit("");
    EXPECT_EQ(0, fake::FileCallCount(fake::kFileOpen));
    EXPECT_EQ(0, fake::FileCallCount(fake::kFileCreate));
    EXPECT_TRUE(fake::FileDialogsShown().empty());
    EXPECT_TRUE(Listing().empty());
    // One stop notification per stop: the record stop before playing, and the exit.
    size_t stops = state == kIdle ? 0 : state == kRecording ? 1 : 2;
    size_t notified = 0;
    for (const fake::Call& call : fake::CallsOf("SendToWindow"))
        notified += call.args[0] == WM_JOURNALSTATE && call.args[1] == JOURNAL_STOPPED;
    EXPECT_EQ(stops, notified);
}

INSTANTIATE_TEST_SUITE_P(Tray, TrayStopTest,
                         ::testing::Combine(::testing::Values(kIdle, kRecording, kPlaying),
                                            ::testing::Values(kSoundOn, kSoundOff, kNoDevice),
                                            ::testing::Bool()),
                         TrayCaseName);

struct AutomationCase {
    const char* name;
    const char* argument;
    int journalEvents;  // a journal "tool_" written before the run; -1: none
    int hookRefused;
    std::function<void()> script;
    int savedEvents;  // events in "tool_" afterwards; -1: no save may happen
};

void HotkeyMenu() {
    fake::PostToLoop(Main(), WM_HOTKEY, HOTKEY_MENU, 0);
}
void ExitKey() {  // Alt+x
    fake::PostToLoop(Main(), WM_COMMAND, IDM_EXIT, 0);
}
void LimitTick() {
    fake::PostToLoop(Main(), WM_TIMER, TIMER_TIMELIMIT, 0);
}

const AutomationCase kAutomationCases[] = {
    {"record over an old journal, menu hotkey", "-Rtool", 9, 0,
     [] {
         RecordKeys(2, 7);
         HotkeyMenu();
     },
     2},
    {"record, Alt+x", "-Rtool", -1, 0,
     [] {
         RecordKeys(4, 100);
         ExitKey();
     },
     4},
    {"record, nothing recorded", "-Rtool", -1, 0, HotkeyMenu, -1},
    {"record, hook refused", "-Rtool", -1, 1, HotkeyMenu, -1},
    {"record, tick below the limit, then hotkey", "-Rtool", -1, 0,
     [] {
         RecordKeys(1, 0);
         fake::RecordEvent({WM_KEYUP, 'A', 1, 60000, 0});
         Send(WM_TIMER, TIMER_TIMELIMIT);
         EXPECT_TRUE(fake::RecordHookInstalled());
         HotkeyMenu();
     },
     2},
    {"record, 3-minute limit", "-rtool", -1, 0,
     [] {
         RecordKeys(1, 0);
         fake::RecordEvent({WM_KEYUP, 'A', 1, 180000, 0});
         fake::SetInputClock(180001);  // the limit passed: the tick ends the run
         LimitTick();
     },
     2},
    {"play, to the end", "-Ptool", 3, 0, [] { PlayEvents(100); }, -1},
    {"play, menu hotkey midway", "-Ptool", 3, 0,
     [] {
         PlayEvents(1);
         HotkeyMenu();
     },
     -1},
    {"play, Alt+x midway", "-Ptool", 3, 0,
     [] {
         PlayEvents(2);
         ExitKey();
     },
     -1},
    {"play, empty journal", "-Ptool", 0, 0, HotkeyMenu, -1},
    {"record, a close from outside", "-Rtool", -1, 0,
     [] {
         RecordKeys(2, 7);
         EndThe(kClose);
     },
     2},
    {"record, the session ends", "-Rtool", -1, 0,
     [] {
         RecordKeys(3, 7);
         EndThe(kSessionEnd);
     },
     3},
    {"record, an end of session called off, then the menu hotkey", "-Rtool", -1, 0,
     [] {
         RecordKeys(3, 7);
         Send(WM_ENDSESSION, 0);
         EXPECT_TRUE(fake::RecordHookInstalled());
         HotkeyMenu();
     },
     3},
    {"play, a close from outside midway", "-Ptool", 3, 0,
     [] {
         PlayEvents(1);
         EndThe(kClose);
     },
     -1},
    // Removing a hook dispatches messages sent meanwhile: a shutdown then arrives inside Stop.
    {"record, the session ends inside the limit's stop", "-Rtool", -1, 0,
     [] {
         RecordKeys(1, 0);
         fake::RecordEvent({WM_KEYUP, 'A', 1, 60000, 0});
         fake::SetInputClock(60001);
         fake::WhileNextHookIsRemoved([] { Send(WM_ENDSESSION, 1); });
         Send(WM_TIMER, TIMER_TIMELIMIT);
     },
     2},
    {"play, a close sent inside the stop at the end", "-Ptool", 3, 0,
     [] {
         fake::WhileNextHookIsRemoved([] { Send(WM_CLOSE, 0); });
         PlayEvents(100);
     },
     -1},
};

class AutomationStopTest : public StopTest, public ::testing::WithParamInterface<AutomationCase> {};

TEST_P(AutomationStopTest, RunsEndWithZeroAndSaveOnlyTheirRecordingOnce) {
    const AutomationCase& c = GetParam();
    std::string before;
    if (c.journalEvents >= 0) {
        before = testkit::JournalImage(testkit::Typing(uint32_t(c.journalEvents)));
        Write("tool_", before);
    }
    fake::SetHookInstallFails(c.hookRefused);
    idleScript = c.script;
    RunToExit(c.argument);
    EXPECT_EQ(0, fake::NotifyIconsShown() + int(fake::NotifyCalls().size()));
    if (c.savedEvents < 0) {
        EXPECT_EQ(0, fake::FileCallCount(fake::kFileCreate));
        EXPECT_EQ(before, Read("tool_"));
        EXPECT_EQ(before.empty() ? 0u : 1u, Listing().size());
    } else {
        EXPECT_EQ(1, fake::FileCallCount(fake::kFileCreate));
        EXPECT_EQ(1, fake::FileCallCount(fake::kFileReplace));
        std::string saved = Read("tool_");
        ASSERT_EQ(40u + 20u * static_cast<uint32_t>(c.savedEvents), saved.size());
        EXPECT_EQ(uint32_t(c.savedEvents), testkit::GetU32(saved, 24));
        EXPECT_EQ(std::vector<std::string>{"tool_"}, Listing());
    }
}

INSTANTIATE_TEST_SUITE_P(Runs, AutomationStopTest, ::testing::ValuesIn(kAutomationCases),
                         [](const auto& run) { return testkit::CaseName(run.param.name); });

struct DialogCase {
    const char* name;
    uint32_t command;                                       // IDM_SAVE or IDM_LOAD
    std::vector<std::pair<uint32_t, uintptr_t>> whileOpen;  // messages the user sends meanwhile
    const char* answer;                                     // "" cancels the dialog
    int heldAfter;  // events held once the command is over; -1: the program has ended by then
};

// What the user sends while the dialog is open.
const std::pair<uint32_t, uintptr_t> kEmpty{WM_COMMAND, IDM_EMPTY}, kExit{WM_COMMAND, IDM_EXIT},
    kRecord{WM_HOTKEY, HOTKEY_RECORD}, kPlay{WM_HOTKEY, HOTKEY_PLAY}, kSave{WM_COMMAND, IDM_SAVE},
    kLoad{WM_COMMAND, IDM_LOAD}, kCloseFromOutside{WM_CLOSE, 0}, kSessionEnds{WM_ENDSESSION, 1};

const DialogCase kDialogCases[] = {
    {"save, then empty, record, play and another save",
     IDM_SAVE,
     {kEmpty, kRecord, kPlay, kSave},
     "take.Jnf",
     3},
    {"save, then exit", IDM_SAVE, {kExit}, "take.Jnf", -1},
    {"save, then a close from outside; cancelled", IDM_SAVE, {kCloseFromOutside}, "", -1},
    {"load, then record, play, empty and another load",
     IDM_LOAD,
     {kRecord, kPlay, kEmpty, kLoad},
     "five.Jnf",
     5},
    {"load, then the session ends", IDM_LOAD, {kSessionEnds}, "five.Jnf", -1},
};

class DialogStopTest : public StopTest, public ::testing::WithParamInterface<DialogCase> {};

TEST_P(DialogStopTest, CommandsWhileAFileDialogIsOpenAreRefusedAndExitWaitsForIt) {
    const DialogCase& c = GetParam();
    Write("five.Jnf", testkit::JournalImage(testkit::Typing(5)));
    idleScript = [&] {
        Send(WM_HOTKEY, HOTKEY_RECORD);
        RecordKeys(3, 10);
        Send(WM_HOTKEY, HOTKEY_STOP);
        fake::WhileNextDialogIsOpen([&] {
            for (const auto& message : c.whileOpen)
                Send(message.first, message.second);
            EXPECT_EQ(nullptr, fake::InstalledHook());
            ASSERT_NE(nullptr, shell.journalRecorder);
            EXPECT_EQ(3u, shell.journalRecorder->GetCount());
        });
        fake::PushDialogAnswer(c.answer);
        Send(WM_COMMAND, c.command);
        if (c.heldAfter < 0) {
            EXPECT_EQ(nullptr, shell.journalRecorder);
            return;
        }
        EXPECT_EQ(uint32_t(c.heldAfter), shell.journalRecorder->GetCount());
        fake::PostToLoop(Main(), WM_COMMAND, IDM_EXIT, 0);
    };
    RunToExit("");
    EXPECT_EQ(1u, fake::FileDialogsShown().size());
    if (c.command == IDM_SAVE && c.answer[0]) {
        std::string saved = Read(c.answer);
        ASSERT_EQ(40u + 3 * 20, saved.size());
        EXPECT_EQ(3u, testkit::GetU32(saved, 24));
    }
}

INSTANTIATE_TEST_SUITE_P(Dialogs, DialogStopTest, ::testing::ValuesIn(kDialogCases),
                         [](const auto& run) { return testkit::CaseName(run.param.name); });

}  // namespace
