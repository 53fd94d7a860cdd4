// The shell driven through its entry point and main window, over the fake platform.
#include "app/shell.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "journal/journal_recorder.h"
#include "platform/fake/fake_file.h"
#include "platform/fake/fake_notify.h"
#include "platform/fake/fake_wave.h"
#include "platform/fake/fake_window.h"
#include "platform/fake/fake_window_lookup.h"
#include "platform/program_ids.h"
#include "sound/sound_recorder.h"
#include "tests/common/folder_test.h"
#include "tray/tray_icon.h"

namespace {

platform::EventRecord Key(uint32_t time) {
    return {WM_KEYDOWN, 'Q', 1, time, 0};
}

void PostCommand(uint32_t command) {
    fake::PostToLoop(fake::LastCreatedWindow(), WM_COMMAND, command, 0);
}

void PostHotkey(uint32_t id) {
    fake::PostToLoop(fake::LastCreatedWindow(), WM_HOTKEY, id, 0);
}

class ShellTest : public testkit::FolderTest {
  protected:
    void SetUp() override {
        fake::ResetWindows();
        fake::ResetFiles();
        fake::ResetNotify();
        EnterFolder();
    }
    void TearDown() override {
        EXPECT_EQ(nullptr, shell.journalRecorder);  // every test ends the program
        EXPECT_EQ(0, fake::OpenFileCount());
    }
    long FileSize(const char* name) {
        std::ifstream in(name, std::ios::binary | std::ios::ate);
        return in ? static_cast<long>(in.tellg()) : -1;
    }
};

struct GrammarCase {
    const char* argument;
    uint32_t launchResult;
    int trayMode;
    uint32_t startCommand;
    int minutes;
    const char* launched;  // null: nothing launched
};

TEST_F(ShellTest, CommandLineGrammarSelectsModeCommandAndLimit) {
    const GrammarCase cases[] = {
        {"", 33, 1, 0, 7, nullptr},
        {"notepad", 33, 1, 0, 7, nullptr},
        {"-", 33, 1, 0, 7, nullptr},
        {"-pnotepad", 33, 1, 0, 7, nullptr},
        {"-Xnotepad", 33, 1, 0, 7, nullptr},
        {"-Pnotepad", 33, 0, IDM_PLAY, 1, "notepad"},
        {"-Rnotepad", 33, 0, IDM_RECORD, 1, "notepad"},
        {"-rnotepad", 33, 0, IDM_RECORD, 3, "notepad"},
        {"-P notepad", 33, 0, IDM_PLAY, 1, " notepad"},
        {"-P", 2, 1, IDM_PLAY, 7, ""},
        {"-rmissing", 2, 1, IDM_RECORD, 7, "missing"},
    };
    for (const GrammarCase& c : cases) {
        SCOPED_TRACE(c.argument);
        fake::ResetWindows();
        fake::SetLaunchResult(c.launchResult);
        ParseCommandLine(c.argument);
        EXPECT_EQ(c.trayMode, shell.trayMode);
        EXPECT_EQ(c.startCommand, shell.startCommand);
        EXPECT_EQ(c.minutes, shell.timeLimitMinutes);
        EXPECT_EQ("", shell.automationFileName);
        if (c.launched) {
            ASSERT_EQ(1u, fake::Launched().size());
            EXPECT_EQ(c.launched, fake::Launched()[0]);
        } else {
            EXPECT_TRUE(fake::Launched().empty());
        }
    }
}

TEST_F(ShellTest, TrayModeStartsEverythingInOrderAndExitEndsWithZero) {
    fake::SetLoopIdle([] { PostCommand(IDM_EXIT); });
    EXPECT_EQ(0, AppMain(nullptr, "", 1));

    const std::vector<fake::Hotkey>& hotkeys = fake::Hotkeys();
    ASSERT_EQ(5u, hotkeys.size());
    const int ids[] = {HOTKEY_MENU, HOTKEY_RECORD, HOTKEY_PLAY, HOTKEY_STOP, HOTKEY_HIDE};
    const uint32_t keys[] = {VK_DELETE, 'R', 'P', 'S', 'H'};
    for (size_t i = 0; i < 5; i++) {
        EXPECT_EQ(ids[i], hotkeys[i].id);
        EXPECT_EQ(keys[i], hotkeys[i].key);
        EXPECT_EQ(7u, hotkeys[i].modifiers);
    }
    // The welcome balloon came with the first add; the icon is gone at the end.
    ASSERT_FALSE(fake::NotifyCalls().empty());
    EXPECT_EQ(static_cast<uint32_t>(NIM_ADD), fake::NotifyCalls()[0].action);
    EXPECT_EQ("Welcome to you!", fake::NotifyCalls()[0].infoTitle);
    EXPECT_EQ(0, fake::NotifyIconsShown());
    EXPECT_TRUE(fake::Timers().empty());
    EXPECT_FALSE(fake::WindowExists(fake::LastCreatedWindow()));
    // Sound is on exactly when a device can take it.
    EXPECT_EQ(fake::MenuEnabled(IDM_SOUND), fake::MenuChecked(IDM_SOUND));
}

// An automation run says that it was refused; a second copy in tray mode has nothing to say.
TEST_F(ShellTest, SecondInstanceLeavesAtOnceAfterLaunchingItsCommand) {
    for (const char* argument : {"-Rnotepad", ""}) {
        SCOPED_TRACE(argument);
        fake::ResetWindows();
        fake::SetMutexError(183);
        bool run = argument[0] != 0;
        EXPECT_EQ(run ? 2 : 0, AppMain(nullptr, argument, 1));
        EXPECT_EQ(run ? 1u : 0u, fake::Launched().size());
        EXPECT_EQ(run ? 1u : 0u, fake::CallsOf("ReportToDebugger").size());
        EXPECT_EQ(nullptr, fake::LastCreatedWindow());
        EXPECT_EQ(0, fake::RecordHookInstalled());
    }
}

TEST_F(ShellTest, RecordRunSavesOnceWhenEndedWithTheMenuHotkey) {
    fake::SetLoopIdle([] {
        fake::RecordEvent(Key(100));
        fake::RecordEvent(Key(200));
        // Exit destroys the recorder, whose stop notification saves and asks for shutdown again.
        PostHotkey(HOTKEY_MENU);
    });
    EXPECT_EQ(0, AppMain(nullptr, "-Rtool", 1));
    EXPECT_EQ(40 + 2 * 20, FileSize("tool_"));
    EXPECT_EQ(1, fake::FileCallCount(fake::kFileReplace));
    EXPECT_TRUE(fake::NotifyCalls().empty());  // nothing shows in automation mode
    EXPECT_EQ(0, fake::PopupShownCount());
}

TEST_F(ShellTest, RecordRunStopsAtItsLimitSavesAndExits) {
    fake::SetLoopIdle([] {
        fake::RecordEvent(Key(1000));
        fake::RecordEvent(Key(59000));
        fake::RecordEvent(Key(61001));  // past the minute: not kept
        fake::PostToLoop(fake::LastCreatedWindow(), WM_TIMER, TIMER_TIMELIMIT, 0);
    });
    EXPECT_EQ(0, AppMain(nullptr, "-Rtool", 1));
    EXPECT_EQ(80, FileSize("tool_"));
    EXPECT_EQ(1, fake::QuitPosted());
}

TEST_F(ShellTest, PlayRunReplaysTheFileAndExitsWithoutSaving) {
    // Make the file with a record run first.
    fake::SetLoopIdle([] {
        fake::RecordEvent(Key(10));
        fake::RecordEvent(Key(30));
        fake::RecordEvent(Key(70));
        PostHotkey(HOTKEY_MENU);
    });
    ASSERT_EQ(0, AppMain(nullptr, "-Rtool", 1));
    fake::ResetWindows();
    fake::ResetFiles();

    static std::vector<fake::Played> played;
    played.clear();
    fake::SetLoopIdle([] { played = fake::PlayAll(); });
    EXPECT_EQ(0, AppMain(nullptr, "-Ptool", 1));
    ASSERT_EQ(3u, played.size());
    EXPECT_EQ(40u, played[2].delay);
    EXPECT_EQ(0, fake::FileCallCount(fake::kFileCreate));
}

TEST_F(ShellTest, PlayRunWithoutItsFileIdlesUntilTheMenuHotkeyAndSaysItFailed) {
    fake::SetLoopIdle([] {
        EXPECT_EQ(0, fake::PlaybackHookInstalled());
        EXPECT_FALSE(fake::QuitPosted());
        PostHotkey(HOTKEY_MENU);
    });
    EXPECT_EQ(1, AppMain(nullptr, "-Pnothing", 1));
    EXPECT_EQ(-1, FileSize("nothing_"));
    ASSERT_EQ(1u, fake::CallsOf("ReportToDebugger").size());
    EXPECT_NE(std::string::npos, fake::CallsOf("ReportToDebugger")[0].text.find("\"nothing_\""));
    EXPECT_TRUE(fake::CallsOf("ShowMessageBox").empty());
}

TEST_F(ShellTest, ARecordRunWhoseSaveFailsExitsWithTheFailureCode) {
    fake::SetLoopIdle([] {
        fake::RecordEvent(Key(100));
        fake::FailFileCall(fake::kFileCreate, 1);
        PostHotkey(HOTKEY_MENU);
    });
    EXPECT_EQ(1, AppMain(nullptr, "-Rtool", 1));
    EXPECT_EQ(-1, FileSize("tool_"));
    ASSERT_EQ(1u, fake::CallsOf("ReportToDebugger").size());
    EXPECT_EQ("The recording could not be saved as \"tool_\": Input/output error.",
              fake::CallsOf("ReportToDebugger")[0].text);
}

TEST_F(ShellTest, TrayClicksOpenTheMenuOnlyOnButtonRelease) {
    fake::SetLoopIdle([] {
        platform::WindowHandle w = fake::LastCreatedWindow();
        for (intptr_t mouse : {WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MOUSEMOVE, WM_LBUTTONDBLCLK})
            fake::Dispatch(w, WM_TRAYNOTIFY, 0, mouse);
        EXPECT_EQ(0, fake::PopupShownCount());
        fake::Dispatch(w, WM_TRAYNOTIFY, 0, WM_LBUTTONUP);
        fake::Dispatch(w, WM_TRAYNOTIFY, 0, WM_RBUTTONUP);
        fake::Dispatch(w, WM_HOTKEY, HOTKEY_MENU, 0);
        EXPECT_EQ(3, fake::PopupShownCount());
        // Hotkey ids nobody registered do nothing.
        fake::Dispatch(w, WM_HOTKEY, 0x405, 0);
        EXPECT_EQ(3, fake::PopupShownCount());
        PostCommand(IDM_EXIT);
    });
    EXPECT_EQ(0, AppMain(nullptr, "", 1));
}

TEST_F(ShellTest, StartAndStopNotificationsDriveTheIconAndItsBalloons) {
    fake::SetLoopIdle([] {
        platform::WindowHandle w = fake::LastCreatedWindow();
        fake::ResetNotify();
        fake::Dispatch(w, WM_HOTKEY, HOTKEY_RECORD, 0);
        fake::RecordEvent(Key(5));
        fake::Dispatch(w, WM_HOTKEY, HOTKEY_STOP, 0);
        fake::Dispatch(w, WM_HOTKEY, HOTKEY_STOP, 0);  // nothing to stop: no balloon
        // Codes the recorder never sends change nothing.
        for (uintptr_t code : {0u, 3u, 5u, 6u, 7u, 9u})
            fake::Dispatch(w, WM_JOURNALSTATE, code, 0);
        std::vector<std::string> titles;
        for (const fake::NotifyCall& call : fake::NotifyCalls())
            if (call.flags & NIF_INFO)
                titles.push_back(call.infoTitle);
        std::vector<std::string> expected = {"\xBE\xAF\xB8\xE6!", "\xCD\xA8\xD6\xAA!"};
        EXPECT_EQ(expected, titles);
        PostCommand(IDM_EXIT);
    });
    EXPECT_EQ(0, AppMain(nullptr, "", 1));
}

TEST_F(ShellTest, HiddenIconShowsNoBalloonsAndComesBackSteady) {
    fake::SetLoopIdle([] {
        platform::WindowHandle w = fake::LastCreatedWindow();
        fake::Dispatch(w, WM_HOTKEY, HOTKEY_HIDE, 0);
        fake::Dispatch(w, WM_TIMER, TIMER_TRAY, 0);
        EXPECT_EQ(0, fake::NotifyIconsShown());
        fake::ResetNotify();
        fake::Dispatch(w, WM_HOTKEY, HOTKEY_RECORD, 0);
        fake::Dispatch(w, WM_HOTKEY, HOTKEY_STOP, 0);
        fake::Dispatch(w, WM_TIMER, TIMER_TRAY, 0);
        EXPECT_TRUE(fake::NotifyCalls().empty());
        // The menu still opens while the icon is hidden.
        fake::Dispatch(w, WM_HOTKEY, HOTKEY_MENU, 0);
        EXPECT_EQ(1, fake::PopupShownCount());
        fake::Dispatch(w, WM_HOTKEY, HOTKEY_HIDE, 0);
        fake::Dispatch(w, WM_TIMER, TIMER_TRAY, 0);
        EXPECT_EQ(1, fake::NotifyIconsShown());
        PostCommand(IDM_EXIT);
    });
    EXPECT_EQ(0, AppMain(nullptr, "", 1));
}

TEST_F(ShellTest, ExitDuringATrayRecordingShowsTheStopBalloonBeforeTheIconGoes) {
    fake::SetLoopIdle([] {
        fake::Dispatch(fake::LastCreatedWindow(), WM_HOTKEY, HOTKEY_RECORD, 0);
        fake::ResetNotify();
        PostCommand(IDM_EXIT);
    });
    EXPECT_EQ(0, AppMain(nullptr, "", 1));
    const std::vector<fake::NotifyCall>& calls = fake::NotifyCalls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ("\xCD\xA8\xD6\xAA!", calls[0].infoTitle);
    EXPECT_EQ(static_cast<uint32_t>(NIM_DELETE), calls.back().action);
}

// Configuration shows the settings in force; OK applies what the user left, Cancel nothing, and
// a pause left as shown stays the recording's last gap.
TEST_F(ShellTest, ConfigurationEditsHowPlayRepeatsAndFollowsWindows) {
    fake::SetLoopIdle([] {
        fake::ClearCallLog();
        JournalRecorder* journal = shell.journalRecorder.get();
        fake::SetDialogAnswer([](platform::PlaySettings* s) {
            s->repeat = 0;
            s->pauseMs = 250;
            return false;
        });
        fake::Dispatch(fake::LastCreatedWindow(), WM_COMMAND, IDM_CONFIG, 0);
        fake::SetDialogAnswer([](platform::PlaySettings* s) {
            s->repeat = 3;
            s->followWindows = false;
            s->longestWaitS = 2;
            s->waitForScreen = false;
            s->goOnWhenReady = true;
            s->mouse = 2;
            return true;
        });
        fake::Dispatch(fake::LastCreatedWindow(), WM_COMMAND, IDM_CONFIG, 0);
        fake::Dispatch(fake::LastCreatedWindow(), WM_COMMAND, 40000, 0);
        const std::vector<fake::Call> shown = {
            {"EditPlaySettings", {IDD_CONFIG, IDI_MAIN, 1, 0, 1, 10, 1, 0, 0}},
            {"EditPlaySettings", {IDD_CONFIG, IDI_MAIN, 1, 0, 1, 10, 1, 0, 0}}};
        EXPECT_EQ(shown, fake::CallsOf("EditPlaySettings"));
        EXPECT_EQ(3u, journal->GetRepeat());
        EXPECT_TRUE(journal->PausesByLastGap());
        EXPECT_FALSE(journal->FollowsWindows());
        EXPECT_EQ(2000u, journal->GetLongestWait());
        EXPECT_FALSE(journal->WaitsForScreen());
        EXPECT_TRUE(journal->GoesOnWhenReady());
        EXPECT_EQ(MouseMode::Motion, journal->GetMouseMode());
        const std::vector<fake::Call> passed = {{"DefaultWindowProcedure", {WM_COMMAND, 40000}}};
        EXPECT_EQ(passed, fake::CallsOf("DefaultWindowProcedure"));
        fake::SetDialogAnswer(nullptr);
        PostCommand(IDM_EXIT);
    });
    EXPECT_EQ(0, AppMain(nullptr, "", 1));
}

TEST_F(ShellTest, AJournalIsNeverPairedWithTheSoundOfAnotherRecording) {
    fake::ResetWave();
    fake::SetLoopIdle([] {
        platform::WindowHandle w = fake::LastCreatedWindow();
        auto recordAndSave = [w] {
            fake::Dispatch(w, WM_HOTKEY, HOTKEY_RECORD, 0);
            fake::RecordEvent(Key(5));
            EXPECT_TRUE(fake::RunWave(5000));
            fake::Dispatch(w, WM_HOTKEY, HOTKEY_STOP, 0);
            fake::PushDialogAnswer("take.Jnf");
            fake::Dispatch(w, WM_COMMAND, IDM_SAVE, 0);
        };
        recordAndSave();
        ASSERT_EQ(0, access("take.Jnf_", F_OK));
        // Saved with Sound off, the journal takes the old sound file away with it.
        fake::Dispatch(w, WM_COMMAND, IDM_SOUND, 0);
        recordAndSave();
        EXPECT_NE(0, access("take.Jnf_", F_OK));
        // A sound file older than its journal, as older versions left them, is not loaded.
        fake::Dispatch(w, WM_COMMAND, IDM_SOUND, 0);
        std::ofstream("take.Jnf_", std::ios::binary) << std::string("Quorvatellianis\0sound", 21);
        struct timespec hourAgo[2] = {{time(nullptr) - 3600, 0}, {time(nullptr) - 3600, 0}};
        ASSERT_EQ(0, utimensat(AT_FDCWD, "take.Jnf_", hourAgo, 0));
        fake::PushDialogAnswer("take.Jnf");
        fake::Dispatch(w, WM_COMMAND, IDM_LOAD, 0);
        EXPECT_EQ(1, shell.journalRecorder->HasEvents());
        EXPECT_EQ(0, shell.soundRecorder->HasSound());
        PostCommand(IDM_EXIT);
    });
    EXPECT_EQ(0, AppMain(nullptr, "", 1));
    fake::ResetWave();
}

// Each pass of a repeated playback plays the sound track from its start, once the main window
// hears of the pass; a pass heard of after the playback ended starts nothing.
TEST_F(ShellTest, EveryPassOfARepeatPlaysTheSoundTrackFromItsStart) {
    fake::ResetWave();
    fake::SetLoopIdle([] {
        platform::WindowHandle w = fake::LastCreatedWindow();
        fake::Dispatch(w, WM_COMMAND, IDM_RECORD, 0);
        fake::RecordEvent(Key(5));
        fake::RecordEvent(Key(25));
        EXPECT_TRUE(fake::RunWave(5000));
        fake::Dispatch(w, WM_COMMAND, IDM_STOP, 0);
        shell.journalRecorder->SetRepeat(3, true, 0);
        fake::Dispatch(w, WM_COMMAND, IDM_PLAY, 0);
        fake::PlayAll(4);  // into the second pass, after the release of the key left down
        fake::SetLoopIdle([] {
            EXPECT_EQ(2, fake::WaveOpens(0));
            fake::PlayAll(3);  // into the third, posted and not yet heard of
            fake::Dispatch(fake::LastCreatedWindow(), WM_COMMAND, IDM_STOP, 0);
            PostCommand(IDM_EXIT);
        });
    });
    EXPECT_EQ(0, AppMain(nullptr, "", 1));
    EXPECT_EQ(2, fake::WaveOpens(0));
    fake::ResetWave();
}

// While the replay waits for a window the sound track waits with it, and goes on with the input.
TEST_F(ShellTest, TheSoundTrackWaitsWithAReplayThatWaitsForItsWindow) {
    fake::ResetWave();
    fake::ResetTopWindows();
    fake::SetLoopIdle([] {
        platform::WindowHandle w = fake::LastCreatedWindow();
        fake::TopWindow editor = {reinterpret_cast<platform::WindowHandle>(7), {}};
        snprintf(editor.info.program, sizeof editor.info.program, "editor.exe");
        editor.info.rect = {0, 0, 300, 200};
        fake::SetTopWindows({editor});
        fake::Dispatch(w, WM_COMMAND, IDM_RECORD, 0);
        fake::RecordEvent({WM_LBUTTONDOWN, 10, 10, 5, 0});
        fake::RecordEvent({WM_LBUTTONUP, 10, 10, 25, 0});
        EXPECT_TRUE(fake::RunWave(5000));
        fake::Dispatch(w, WM_COMMAND, IDM_STOP, 0);
        fake::SetTopWindows({});
        fake::Dispatch(w, WM_COMMAND, IDM_PLAY, 0);
        fake::PlayAll(3);  // its moment, and a look after it
        fake::SetLoopIdle([] {
            EXPECT_EQ(1, fake::PausedWaveOutputs());
            fake::ResetTopWindows();
            fake::PlayAll(101);  // the rest of the longest wait, and the click as recorded
            fake::SetLoopIdle([] {
                EXPECT_EQ(0, fake::PausedWaveOutputs());
                platform::WindowHandle w = fake::LastCreatedWindow();
                fake::Dispatch(w, WM_COMMAND, IDM_STOP, 0);
                // Pauses that may end early leave the track out, which could not follow them.
                int outputs = fake::WaveOpens(0);
                shell.journalRecorder->SetScreenWaiting(true, true);
                fake::Dispatch(w, WM_COMMAND, IDM_PLAY, 0);
                EXPECT_TRUE(shell.journalRecorder->IsPlaying());
                EXPECT_EQ(outputs, fake::WaveOpens(0)) << "no sound while it goes on when ready";
                fake::Dispatch(w, WM_COMMAND, IDM_STOP, 0);
                PostCommand(IDM_EXIT);
            });
        });
    });
    EXPECT_EQ(0, AppMain(nullptr, "", 1));
    fake::ResetWave();
}

TEST_F(ShellTest, SwitchingSoundDuringARunLeavesNoDeviceRunningAndNoOtherRecordingsTrack) {
    fake::ResetWave();
    fake::SetLoopIdle([] {
        platform::WindowHandle w = fake::LastCreatedWindow();
        SoundRecorder* sound = shell.soundRecorder.get();
        auto command = [w](uint32_t id) { fake::Dispatch(w, WM_COMMAND, id, 0); };
        // Off during a recording: the capture ends then, and the next one starts.
        command(IDM_RECORD);
        fake::RecordEvent(Key(5));
        EXPECT_TRUE(fake::RunWave(5000));
        command(IDM_SOUND);
        EXPECT_EQ(0, fake::OpenWaveDevices());
        command(IDM_STOP);
        command(IDM_SOUND);
        command(IDM_RECORD);
        fake::RecordEvent(Key(5));
        EXPECT_EQ(2, fake::WaveOpens(1));
        EXPECT_TRUE(fake::RunWave(5000));
        command(IDM_STOP);
        // Off during a playback: the sound stops with the switch.
        command(IDM_PLAY);
        EXPECT_TRUE(sound->IsPlaying());
        command(IDM_SOUND);
        EXPECT_EQ(0, fake::OpenWaveDevices());
        command(IDM_STOP);
        // A recording made without sound keeps no track of the one before it, also when Sound
        // comes on before its stop.
        command(IDM_RECORD);
        command(IDM_SOUND);
        command(IDM_STOP);
        EXPECT_FALSE(sound->HasSound());
        PostCommand(IDM_EXIT);
    });
    EXPECT_EQ(0, AppMain(nullptr, "", 1));
    EXPECT_TRUE(fake::WaveFaults().empty());
    fake::ResetWave();
}

TEST_F(ShellTest, TheSystemCancellingTheHookEndsTheRunAsAStopDoes) {
    fake::ResetWave();
    // Tray mode: the icon comes back steady with the stop balloon and the sound stops.
    fake::SetLoopIdle([] {
        fake::Dispatch(fake::LastCreatedWindow(), WM_COMMAND, IDM_RECORD, 0);
        fake::RecordEvent(Key(5));
        EXPECT_TRUE(fake::RunWave(5000));
        fake::ResetNotify();
        fake::PostToLoop(nullptr, WM_CANCELJOURNAL, 0, 0);
        fake::SetLoopIdle([] {
            EXPECT_FALSE(shell.journalRecorder->IsRecording());
            EXPECT_FALSE(shell.soundRecorder->IsRecording());
            ASSERT_FALSE(fake::NotifyCalls().empty());
            EXPECT_EQ("\xCD\xA8\xD6\xAA!", fake::NotifyCalls()[0].infoTitle);
            PostCommand(IDM_EXIT);
        });
    });
    EXPECT_EQ(0, AppMain(nullptr, "", 1));
    fake::ResetWave();
    fake::ResetWindows();

    // An automation record run saves and exits; a play run exits.
    fake::SetLoopIdle([] {
        fake::RecordEvent(Key(10));
        fake::RecordEvent(Key(30));
        fake::PostToLoop(nullptr, WM_CANCELJOURNAL, 0, 0);
    });
    EXPECT_EQ(0, AppMain(nullptr, "-Rtool", 1));
    EXPECT_EQ(80, FileSize("tool_"));
    fake::ResetWindows();
    fake::ResetFiles();
    fake::SetLoopIdle([] {
        EXPECT_EQ(1, fake::PlaybackHookInstalled());
        fake::PostToLoop(nullptr, WM_CANCELJOURNAL, 0, 0);
    });
    EXPECT_EQ(0, AppMain(nullptr, "-Ptool", 1));
    EXPECT_EQ(0, fake::FileCallCount(fake::kFileCreate));
}

TEST_F(ShellTest, TheMenuHoldsAPlaybackAndItsSoundWhileItIsOpen) {
    fake::ResetWave();
    fake::SetLoopIdle([] {
        platform::WindowHandle w = fake::LastCreatedWindow();
        fake::Dispatch(w, WM_COMMAND, IDM_RECORD, 0);
        fake::RecordEvent(Key(5));
        fake::RecordEvent(Key(9000));
        EXPECT_TRUE(fake::RunWave(20000));
        fake::Dispatch(w, WM_COMMAND, IDM_STOP, 0);
        fake::Dispatch(w, WM_COMMAND, IDM_PLAY, 0);
        fake::SetWhileMenuOpen([] {
            EXPECT_EQ(1, fake::PlaybackPaused());
            size_t played = fake::PlayedBytes().size();
            EXPECT_TRUE(fake::RunWave(2000));
            EXPECT_EQ(played, fake::PlayedBytes().size()) << "the sound waits";
        });
        fake::Dispatch(w, WM_HOTKEY, HOTKEY_MENU, 0);
        EXPECT_EQ(0, fake::PlaybackPaused());
        size_t played = fake::PlayedBytes().size();
        EXPECT_TRUE(fake::RunWave(2000));
        EXPECT_LT(played, fake::PlayedBytes().size()) << "the sound goes on";
        fake::SetWhileMenuOpen(nullptr);
        PostCommand(IDM_EXIT);
    });
    EXPECT_EQ(0, AppMain(nullptr, "", 1));
    EXPECT_TRUE(fake::WaveFaults().empty());
    fake::ResetWave();
}

// Menus and dialogs opened inside one another hold a playback until the last of them closes, and
// what the menu chose acts before the playback would go on.
TEST_F(ShellTest, APlaybackWaitsForTheLastMenuOrDialogAndAMenuChoiceActsFirst) {
    fake::SetLoopIdle([] {
        platform::WindowHandle w = fake::LastCreatedWindow();
        fake::Dispatch(w, WM_COMMAND, IDM_RECORD, 0);
        fake::RecordEvent(Key(5));
        fake::RecordEvent(Key(9000));
        fake::Dispatch(w, WM_COMMAND, IDM_STOP, 0);
        fake::Dispatch(w, WM_COMMAND, IDM_PLAY, 0);
        static int pausedAfterInner;
        fake::SetWhileMenuOpen([] {
            fake::SetWhileMenuOpen(nullptr);
            fake::Dispatch(fake::LastCreatedWindow(), WM_HOTKEY, HOTKEY_MENU, 0);
            pausedAfterInner = fake::PlaybackPaused();
        });
        fake::Dispatch(w, WM_HOTKEY, HOTKEY_MENU, 0);
        EXPECT_EQ(1, pausedAfterInner) << "a menu opened in the menu";
        EXPECT_EQ(0, fake::PlaybackPaused());
        fake::SetDialogAnswer([](platform::PlaySettings*) {
            fake::Dispatch(fake::LastCreatedWindow(), WM_HOTKEY, HOTKEY_MENU, 0);
            pausedAfterInner = fake::PlaybackPaused();
            return false;
        });
        fake::Dispatch(w, WM_COMMAND, IDM_CONFIG, 0);
        EXPECT_EQ(1, pausedAfterInner) << "the menu opened in the Configuration dialog";
        EXPECT_EQ(0, fake::PlaybackPaused());

        fake::ClearCallLog();
        fake::SetMenuChoice(IDM_STOP);
        fake::Dispatch(w, WM_HOTKEY, HOTKEY_MENU, 0);
        EXPECT_EQ(0, shell.journalRecorder->IsPlaying());
        std::vector<fake::Call> order;
        for (const fake::Call& call : fake::CallLog())
            if (call.name == "PausePlayback" || call.name == "RemoveHook")
                order.push_back(call);
        const std::vector<fake::Call> kStoppedWhereHeld = {{"PausePlayback", {1}}, {"RemoveHook"}};
        EXPECT_EQ(kStoppedWhereHeld, order);

        // The stop hotkey in the Configuration dialog ends the playback it holds.
        fake::Dispatch(w, WM_COMMAND, IDM_PLAY, 0);
        fake::SetDialogAnswer([](platform::PlaySettings*) {
            fake::Dispatch(fake::LastCreatedWindow(), WM_HOTKEY, HOTKEY_STOP, 0);
            return false;
        });
        fake::Dispatch(w, WM_COMMAND, IDM_CONFIG, 0);
        EXPECT_EQ(0, shell.journalRecorder->IsPlaying()) << "stopped in the dialog";
        PostCommand(IDM_EXIT);
    });
    EXPECT_EQ(0, AppMain(nullptr, "", 1));
    fake::SetDialogAnswer(nullptr);
}

// A save or a load that fails says so in a message box with the file's name and the reason, and
// changes nothing; one that succeeds, and a cancelled dialog, say nothing.
TEST_F(ShellTest, AFailedSaveOrLoadIsToldAndChangesNothing) {
    struct Case {
        const char* name;
        uint32_t command;
        const char* answer;  // of the dialog; empty cancels
        int fault;           // a file call made to fail, -1 for none
        const char* told;    // in the message box, after the title; empty for no message
    };
    static const Case kCases[] = {
        {"saved", IDM_SAVE, "new.Jnf", -1, ""},
        {"save cancelled", IDM_SAVE, "", -1, ""},
        {"save refused by the system", IDM_SAVE, "old.Jnf", fake::kFileCreate,
         "Quorvatellianis: The recording could not be saved as\nold.Jnf\n\nInput/output error.\n\n"
         "Nothing was changed on disk: the recording is still held, and can be saved elsewhere."},
        {"load of a damaged file", IDM_LOAD, "damaged.Jnf", -1,
         "Quorvatellianis: The recording could not be loaded from\ndamaged.Jnf\n\nNot a journal "
         "the program loads: it does not begin with the signature \"Quorvatellianis\" and a zero "
         "byte.\n\nThe recording held so far is kept."},
        {"load cancelled", IDM_LOAD, "", -1, ""},
    };
    static const Case* current = nullptr;
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        current = &c;
        fake::ResetWindows();
        fake::ResetFiles();
        std::ofstream("old.Jnf", std::ios::binary) << "old";
        std::ofstream("damaged.Jnf", std::ios::binary) << std::string(60, 'x');
        fake::SetLoopIdle([] {
            platform::WindowHandle w = fake::LastCreatedWindow();
            fake::Dispatch(w, WM_COMMAND, IDM_RECORD, 0);
            fake::RecordEvent(Key(5));
            fake::Dispatch(w, WM_COMMAND, IDM_STOP, 0);
            fake::PushDialogAnswer(current->answer);
            if (current->fault >= 0)
                fake::FailFileCall(fake::FileCall(current->fault), 1);
            fake::ClearCallLog();
            fake::Dispatch(w, WM_COMMAND, current->command, 0);
            std::vector<fake::Call> told = fake::CallsOf("ShowMessageBox");
            if (current->told[0]) {
                ASSERT_EQ(1u, told.size());
                EXPECT_EQ(current->told, told[0].text);
            } else {
                EXPECT_TRUE(told.empty());
            }
            EXPECT_EQ(1u, shell.journalRecorder->GetCount());
            PostCommand(IDM_EXIT);
        });
        EXPECT_EQ(0, AppMain(nullptr, "", 1));
        EXPECT_EQ(3, FileSize("old.Jnf"));
        EXPECT_EQ(std::string(c.name) == "saved" ? 60 : -1, FileSize("new.Jnf"));
        std::remove("new.Jnf");
    }
}

// A recording's sound track is its own: Sound off only keeps sound from being captured and
// played. It is loaded and saved back with its journal, and goes with it on Empty.
TEST_F(ShellTest, SoundOffNeverDropsTheTrackOfALoadedRecording) {
    fake::ResetWave();
    fake::SetLoopIdle([] {
        platform::WindowHandle w = fake::LastCreatedWindow();
        auto command = [w](uint32_t id, const char* answer = nullptr) {
            if (answer)
                fake::PushDialogAnswer(answer);
            fake::Dispatch(w, WM_COMMAND, id, 0);
        };
        command(IDM_RECORD);
        fake::RecordEvent(Key(5));
        EXPECT_TRUE(fake::RunWave(5000));
        command(IDM_STOP);
        command(IDM_SAVE, "rec.Jnf");
        std::ifstream in("rec.Jnf_", std::ios::binary);
        std::string track((std::istreambuf_iterator<char>(in)), {});
        EXPECT_GT(track.size(), 16u);

        command(IDM_SOUND);
        command(IDM_EMPTY);
        EXPECT_FALSE(shell.soundRecorder->HasSound());
        command(IDM_LOAD, "rec.Jnf");
        EXPECT_TRUE(shell.soundRecorder->HasSound());
        int opens = fake::WaveOpens(0);
        command(IDM_PLAY);
        fake::PlayAll();
        EXPECT_EQ(opens, fake::WaveOpens(0)) << "Sound off played sound";
        command(IDM_SAVE, "rec.Jnf");
        command(IDM_SAVE, "copy.Jnf");
        for (const char* name : {"rec.Jnf_", "copy.Jnf_"}) {
            std::ifstream saved(name, std::ios::binary);
            EXPECT_TRUE(std::string((std::istreambuf_iterator<char>(saved)), {}) == track) << name;
        }
        PostCommand(IDM_EXIT);
    });
    EXPECT_EQ(0, AppMain(nullptr, "", 1));
    fake::ResetWave();
}

}  // namespace

namespace {

// One thing the user does: an input event the recorder sees ('e'), a hotkey ('h', key is its
// id), the keys of a hotkey held down ('k', key is its id), a click on the icon ('o'), a menu
// command ('c', key is the command) or a time-limit tick ('t').
struct Act {
    char what;
    uint32_t message = 0;
    uint32_t key = 0;
    uint32_t time = 0;
};

struct OriginCase {
    const char* name;
    const char* argument;
    std::vector<Act> acts;
    std::vector<Act> inMenu;          // events while the menu is open
    std::vector<uint32_t> keptTimes;  // the recording's events, by their times
};

const OriginCase* current = nullptr;
std::vector<uint32_t> kept;

void HoldKeysOf(int hotkey) {
    for (const platform::HotkeyChord& chord : journal::kHotkeys) {
        for (uint32_t key : {chord.key, 0x10u, 0x11u, 0x12u})
            if (chord.id == hotkey && journal::InChord(chord, key))
                fake::SetKeyDown(key, true);
    }
}

void Perform(const std::vector<Act>& acts) {
    platform::WindowHandle w = fake::LastCreatedWindow();
    for (const Act& a : acts)
        if (a.what == 'e')
            fake::RecordEvent({a.message, a.key, 1, a.time, 0});
        else if (a.what == 'h')
            fake::Dispatch(w, WM_HOTKEY, a.key, 0);
        else if (a.what == 'k')
            HoldKeysOf(int(a.key));
        else if (a.what == 'o')
            fake::Dispatch(w, WM_TRAYNOTIFY, 0, WM_RBUTTONUP);
        else if (a.what == 'c')
            fake::Dispatch(w, WM_COMMAND, a.key, 0);
        else if (a.what == 't')
            fake::Dispatch(w, WM_TIMER, TIMER_TIMELIMIT, 0);
}

// A recording keeps what the user did between its start and its stop, and not the keys,
// clicks and menu choices that commanded the program, whatever started and stopped it.
TEST_F(ShellTest, ARecordingLeavesOutWhatCommandedTheProgram) {
    const uint32_t D = WM_KEYDOWN, U = WM_KEYUP, M = WM_MOUSEMOVE;
    const uint32_t kCtrl = 0x11, kAlt = 0x12, kShift = 0x10;
    const std::vector<Act> kChord = {
        {'e', D, kCtrl, 60}, {'e', D, kAlt, 70}, {'e', M, 0, 75}, {'e', D, kShift, 80}};
    auto with = [](std::vector<Act> a, std::vector<Act> b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const OriginCase kCases[] = {
        {"hotkeys",
         "",
         with({{'k', 0, HOTKEY_RECORD},
               {'h', 0, HOTKEY_RECORD},
               {'e', U, 'R', 10},
               {'e', U, kCtrl, 15},
               {'e', M, 0, 20},
               {'e', U, kAlt, 25},
               {'e', D, 'A', 30},
               {'e', U, 'A', 40},
               {'e', U, kShift, 45}},
              with(kChord, {{'e', D, 'S', 90}, {'h', 0, HOTKEY_STOP}})),
         {},
         {20, 30, 40, 75}},
        {"a letter let go of after the stop chord began",
         "",
         {{'c', 0, IDM_RECORD},
          {'e', D, 'A', 30},
          {'e', D, kCtrl, 60},
          {'e', U, 'A', 65},
          {'e', D, kAlt, 70},
          {'e', D, kShift, 80},
          {'e', D, 'S', 90},
          {'h', 0, HOTKEY_STOP}},
         {},
         {30, 65}},
        {"the start hotkey let go of before the recording began",
         "",
         {{'h', 0, HOTKEY_RECORD},
          {'e', D, 'R', 30},
          {'e', U, 'R', 40},
          {'e', D, kCtrl, 50},
          {'e', D, 'C', 60},
          {'e', U, 'C', 70},
          {'e', U, kCtrl, 80},
          {'c', 0, IDM_STOP}},
         {},
         {30, 40, 50, 60, 70, 80}},
        {"capitals typed with Shift still held into the stop chord",
         "",
         {{'c', 0, IDM_RECORD},
          {'e', D, 'O', 30},
          {'e', U, 'O', 40},
          {'e', D, kShift, 50},
          {'e', D, 'K', 60},
          {'e', U, 'K', 70},
          {'e', D, kCtrl, 80},
          {'e', D, kAlt, 90},
          {'e', D, 'S', 100},
          {'h', 0, HOTKEY_STOP}},
         {},
         {30, 40, 50, 60, 70}},
        {"a hotkey the recording refuses, in its middle",
         "",
         with({{'c', 0, IDM_RECORD}, {'e', D, 'A', 30}, {'e', U, 'A', 40}},
              with(kChord, {{'e', D, 'P', 90},
                            {'h', 0, HOTKEY_PLAY},
                            {'e', D, 'P', 95},
                            {'e', U, 'P', 100},
                            {'e', U, kShift, 110},
                            {'e', U, kAlt, 120},
                            {'e', U, kCtrl, 130},
                            {'e', D, 'B', 140},
                            {'c', 0, IDM_STOP}})),
         {},
         {30, 40, 75, 140}},
        {"menu opened by a click",
         "",
         {{'c', 0, IDM_RECORD},
          {'e', D, 'A', 30},
          {'e', U, 'A', 40},
          {'e', M, 0, 50},
          {'e', WM_RBUTTONDOWN, 0, 60},
          {'e', WM_RBUTTONUP, 0, 70},
          {'o'},
          {'c', 0, IDM_STOP}},
         {{'e', M, 0, 80}, {'e', WM_LBUTTONDOWN, 0, 90}, {'e', WM_LBUTTONUP, 0, 100}},
         {30, 40, 50}},
        {"menu opened by its hotkey",
         "",
         with({{'c', 0, IDM_RECORD}, {'e', D, 'A', 30}, {'e', U, 'A', 40}},
              with(kChord, {{'e', D, VK_DELETE, 90}, {'h', 0, HOTKEY_MENU}, {'c', 0, IDM_STOP}})),
         {{'e', U, VK_DELETE, 100}, {'e', U, kCtrl, 110}, {'e', D, 0x28, 120}, {'e', D, 0x0D, 130}},
         {30, 40, 75}},
        {"automation run ended by its hotkey",
         "-Rtool",
         with({{'e', U, 0x0D, 5}, {'e', D, 'A', 30}, {'e', U, 'A', 40}},
              with(kChord, {{'e', D, VK_DELETE, 90}, {'h', 0, HOTKEY_MENU}})),
         {},
         {5, 30, 40, 75}},
        {"time limit",
         "-Rtool",
         with({{'e', D, 'A', 30}}, with(kChord, {{'e', D, 'S', 70000}, {'t'}})),
         {},
         {30, 60, 70, 75, 80}},
    };
    for (const OriginCase& c : kCases) {
        fake::ResetWindows();
        fake::ResetFiles();
        current = &c;
        kept.clear();
        fake::SetWhileMenuOpen([] { Perform(current->inMenu); });
        fake::SetLoopIdle([] {
            Perform(current->acts);
            if (!shell.journalRecorder)
                return;
            for (const JournalEvent* e = shell.journalRecorder->GetHead(); e; e = e->next)
                kept.push_back(e->record.time);
            PostCommand(IDM_EXIT);
        });
        EXPECT_EQ(0, AppMain(nullptr, c.argument, 1)) << c.name;
        if (c.argument[0]) {
            std::ifstream in("tool_", std::ios::binary);
            std::string bytes((std::istreambuf_iterator<char>(in)), {});
            for (size_t at = 40 + 12; at + 4 <= bytes.size(); at += 20)
                kept.push_back(uint32_t(uint8_t(bytes[at])) |
                               uint32_t(uint8_t(bytes[at + 1])) << 8 |
                               uint32_t(uint8_t(bytes[at + 2])) << 16);
        }
        EXPECT_EQ(c.keptTimes, kept) << c.name;
    }
    fake::SetWhileMenuOpen(nullptr);
}

}  // namespace
