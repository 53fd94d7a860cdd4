// Ending the program from every state, through its entry point over the fakes: Exit from the
// menu (opened by a click on the icon or by Ctrl+Alt+Shift+Delete), Ctrl+Alt+Shift+Delete in an
// automation run, and the end of an automation run. Each way ends with code 0, saves what it must
// exactly once (an automation recording; a tray session saves nothing by itself) and leaves no
// hook, timer, icon, window, file handle, sound device or audio buffer behind.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "tests/unit/fake_platform.h"
#include "app/resources/resource.h"
#include "app/shell.h"
#include "journal/journal_recorder.h"
#include "platform/fake/fake_file.h"
#include "platform/fake/fake_notify.h"
#include "platform/fake/fake_wave.h"
#include "platform/fake/fake_window.h"
#include "sound/sound_recorder.h"
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

std::vector<uint8_t> JournalOf(uint32_t count) {
    std::vector<uint8_t> bytes;
    auto put = [&](uint32_t v) {
        for (int i = 0; i < 4; i++)
            bytes.push_back(uint8_t(v >> (8 * i)));
    };
    const char signature[16] = "Quorvatellianis";
    bytes.assign(signature, signature + 16);
    uint32_t last = count ? 100 + 10 * (count - 1) : 100;
    for (uint32_t v : {40u, 20u, count, 100u, last, last - 100})
        put(v);
    for (uint32_t i = 0; i < count; i++)
        for (uint32_t v : {uint32_t(WM_KEYDOWN), 'A' + i, 1u, 100 + 10 * i, 0u})
            put(v);
    return bytes;
}

class StopTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetFakePlatform();
        char pattern[] = "/tmp/reliability-stop-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        folder = pattern;
        ASSERT_EQ(0, chdir(folder.c_str()));
        fake::SetLoopIdle(RunScript);
    }
    void TearDown() override {
        ASSERT_EQ(0, chdir("/"));
        std::filesystem::remove_all(folder);
        fake::ResetWave();
    }

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
        EXPECT_EQ(1u, fake::CallsStartingWith("DestroyWindow").size());
        EXPECT_EQ(0, fake::OpenFileCount());
        EXPECT_EQ(0, fake::OpenWaveDevices());
        EXPECT_EQ(0, fake::LiveWaveBuffers());
        for (const std::string& fault : fake::WaveFaults())
            ADD_FAILURE() << "wave service: " << fault;
    }
    std::vector<std::string> Listing() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            names.push_back(entry.path().filename().string());
        return names;
    }
    std::vector<uint8_t> Read(const char* name) const {
        std::ifstream in(folder + "/" + name, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    }
    void Write(const char* name, const std::vector<uint8_t>& bytes) const {
        std::ofstream(folder + "/" + name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }

    std::string folder;
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

TEST_F(StopTest, ExitInTrayModeFromEveryStateSavesNothingAndLeavesNothing) {
    int index = 0;
    for (State state : {kIdle, kRecording, kPlaying}) {
        for (Sound sound : {kSoundOn, kSoundOff, kNoDevice}) {
            for (bool hidden : {false, true}) {
                // The ways of ending take turns, so that each meets every state.
                Way way = Way(index++ % 3);
                SCOPED_TRACE("state " + std::to_string(state) + " sound " + std::to_string(sound) +
                             (hidden ? " hidden" : " shown") + " way " + std::to_string(way));
                TearDown();
                SetUp();
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
                            ASSERT_TRUE(fake::RunWave(30000));
                        }
                    }
                    if (state == kPlaying) {
                        Send(WM_HOTKEY, HOTKEY_STOP);
                        Send(WM_HOTKEY, HOTKEY_PLAY);
                        PlayEvents(1);
                        if (sound == kSoundOn) {
                            ASSERT_TRUE(fake::RunWave(1000));
                        }
                    }
                    EXPECT_EQ(state == kRecording, fake::RecordHookInstalled() != 0);
                    EXPECT_EQ(state == kPlaying, fake::PlaybackHookInstalled() != 0);
                    EXPECT_EQ(state == kRecording && sound == kSoundOn,
                              shell.soundRecorder->IsRecording());
                    EXPECT_EQ(state == kPlaying && sound == kSoundOn,
                              shell.soundRecorder->IsPlaying());
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
                EXPECT_EQ(stops, fake::CallsStartingWith("SendToWindow 0x801 4 ").size());
            }
        }
    }
}

struct AutomationCase {
    const char* name;
    const char* argument;
    int journalEvents;  // a journal "tool_" written before the run; -1: none
    int hookRefused;
    std::function<void()> script;
    int savedEvents;  // events in "tool_" afterwards; -1: no save may happen
};

TEST_F(StopTest, AutomationRunsEndWithZeroAndSaveOnlyTheirRecordingOnce) {
    auto hotkeyMenu = [] { fake::PostToLoop(Main(), WM_HOTKEY, HOTKEY_MENU, 0); };
    auto exitKey = [] { fake::PostToLoop(Main(), WM_COMMAND, IDM_EXIT, 0); };  // Alt+x
    auto limitTick = [] { fake::PostToLoop(Main(), WM_TIMER, TIMER_TIMELIMIT, 0); };
    const AutomationCase cases[] = {
        {"record over an old journal, menu hotkey", "-Rtool", 9, 0,
         [=] {
             RecordKeys(2, 7);
             hotkeyMenu();
         },
         2},
        {"record, Alt+x", "-Rtool", -1, 0,
         [=] {
             RecordKeys(4, 100);
             exitKey();
         },
         4},
        {"record, nothing recorded", "-Rtool", -1, 0, hotkeyMenu, -1},
        {"record, hook refused", "-Rtool", -1, 1, hotkeyMenu, -1},
        {"record, tick below the limit, then hotkey", "-Rtool", -1, 0,
         [=] {
             RecordKeys(1, 0);
             fake::RecordEvent({WM_KEYUP, 'A', 1, 60000, 0});
             Send(WM_TIMER, TIMER_TIMELIMIT);
             EXPECT_TRUE(fake::RecordHookInstalled());
             hotkeyMenu();
         },
         2},
        {"record, 3-minute limit", "-rtool", -1, 0,
         [=] {
             RecordKeys(1, 0);
             fake::RecordEvent({WM_KEYUP, 'A', 1, 180001, 0});
             limitTick();
         },
         2},
        {"play, to the end", "-Ptool", 3, 0, [] { PlayEvents(100); }, -1},
        {"play, menu hotkey midway", "-Ptool", 3, 0,
         [=] {
             PlayEvents(1);
             hotkeyMenu();
         },
         -1},
        {"play, Alt+x midway", "-Ptool", 3, 0,
         [=] {
             PlayEvents(2);
             exitKey();
         },
         -1},
        {"play, empty journal", "-Ptool", 0, 0, hotkeyMenu, -1},
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
         [=] {
             RecordKeys(3, 7);
             Send(WM_ENDSESSION, 0);
             EXPECT_TRUE(fake::RecordHookInstalled());
             hotkeyMenu();
         },
         3},
        {"play, a close from outside midway", "-Ptool", 3, 0,
         [] {
             PlayEvents(1);
             EndThe(kClose);
         },
         -1},
    };
    for (const AutomationCase& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        std::vector<uint8_t> before;
        if (c.journalEvents >= 0) {
            before = JournalOf(uint32_t(c.journalEvents));
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
            std::vector<uint8_t> saved = Read("tool_");
            ASSERT_EQ(40u + 20u * c.savedEvents, saved.size());
            EXPECT_EQ(uint8_t(c.savedEvents), saved[24]);
            EXPECT_EQ(std::vector<std::string>{"tool_"}, Listing());
        }
    }
}

struct DialogCase {
    const char* name;
    uint32_t command;                                       // IDM_SAVE or IDM_LOAD
    std::vector<std::pair<uint32_t, uintptr_t>> whileOpen;  // messages the user sends meanwhile
    const char* answer;                                     // "" cancels the dialog
    int heldAfter;  // events held once the command is over; -1: the program has ended by then
};

TEST_F(StopTest, CommandsWhileAFileDialogIsOpenAreRefusedAndExitWaitsForIt) {
    const std::pair<uint32_t, uintptr_t> empty{WM_COMMAND, IDM_EMPTY}, exit{WM_COMMAND, IDM_EXIT},
        record{WM_HOTKEY, HOTKEY_RECORD}, play{WM_HOTKEY, HOTKEY_PLAY}, save{WM_COMMAND, IDM_SAVE},
        load{WM_COMMAND, IDM_LOAD}, close{WM_CLOSE, 0}, sessionEnd{WM_ENDSESSION, 1};
    const DialogCase cases[] = {
        {"save, then empty, record, play and another save",
         IDM_SAVE,
         {empty, record, play, save},
         "take.Jnf",
         3},
        {"save, then exit", IDM_SAVE, {exit}, "take.Jnf", -1},
        {"save, then a close from outside; cancelled", IDM_SAVE, {close}, "", -1},
        {"load, then record, play, empty and another load",
         IDM_LOAD,
         {record, play, empty, load},
         "five.Jnf",
         5},
        {"load, then the session ends", IDM_LOAD, {sessionEnd}, "five.Jnf", -1},
    };
    for (const DialogCase& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        Write("five.Jnf", JournalOf(5));
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
            ASSERT_EQ(40u + 3 * 20, Read(c.answer).size());
            EXPECT_EQ(3, Read(c.answer)[24]);
        }
    }
}

}  // namespace
