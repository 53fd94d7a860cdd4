// The main window's procedure: turns commands, hotkeys, timer ticks, the tray icon's clicks and
// the journal's notifications into calls on the journal, the sound track and the tray icon.
#include "app/balloon_texts.h"
#include "app/shell.h"
#include "journal/journal_recorder.h"
#include "platform/program_ids.h"
#include "platform/window.h"
#include "sound/sound_recorder.h"
#include "tray/tray_icon.h"

namespace {

const uint32_t kBalloonIconInfo = 1;
const uint32_t kBalloonTimeout = 300;

const platform::HotkeyChord* Chord(int id) {
    for (const platform::HotkeyChord& chord : journal::kHotkeys)
        if (chord.id == id)
            return &chord;
    return nullptr;
}

// A command of the hotkey `id`: the recording leaves out the keys that made it.
void SendCommand(uint32_t command, int id = 0) {
    shell.commandChord = Chord(id);
    platform::SendToWindow(shell.mainWindow, WM_COMMAND, command, 0);
    shell.commandChord = nullptr;
}

Commander CommandOrigin() {
    Commander by;
    by.chord = shell.commandChord;
    by.menu = !by.chord && shell.menuCommands;
    return by;
}

// The sound track that plays with a playback: none while its pauses may end early, which the
// track could not follow.
SoundRecorder* PlayingSound() {
    return shell.journalRecorder->GoesOnWhenReady() ? nullptr : ActiveSound();
}

// What may hold a playback's sound track; it plays while nothing does.
const uint32_t kHeldByMenu = 1;
const uint32_t kHeldByWait = 2;

void HoldSound(uint32_t reason, bool hold) {
    uint32_t before = shell.soundHolds;
    shell.soundHolds = hold ? before | reason : before & ~reason;
    if (shell.soundRecorder && (before == 0) != (shell.soundHolds == 0))
        shell.soundRecorder->PausePlayback(shell.soundHolds != 0);
}

void ShowStatusTip() {
    if (shell.trayVisible && shell.trayIcon && shell.journalRecorder)
        shell.trayIcon->SetTexts(shell.journalRecorder->GetStatusText(), "", "", nullptr);
}

// A recording's sound track is its own whatever the Sound switch, which only says whether sound
// is captured and played: it is saved and loaded with its journal.
void SaveRecord() {
    // The sound goes beside a journal only when that journal was written: a refused save would
    // otherwise overwrite the sound of an earlier recording. A journal written without a track
    // takes the old sound file away with the journal it replaced.
    JournalRecorder* journal = shell.journalRecorder.get();
    if (!journal->Save("")) {
        TellFileFailure(FileTask::SaveJournal, journal->GetFailure());
        return;
    }
    const char* name = journal->GetFileName();
    SoundRecorder* sound = shell.soundRecorder.get();
    bool track = sound && sound->HasSound();
    if (track && sound->Save(name))
        return;
    RemoveSoundFile(name);
    if (track)
        TellFileFailure(FileTask::SaveSound, sound->GetFailure(), name);
}

void LoadRecord() {
    // A journal and its sound never come from two different recordings.
    JournalRecorder* journal = shell.journalRecorder.get();
    if (!journal->Load("")) {
        TellFileFailure(FileTask::LoadJournal, journal->GetFailure());
        return;
    }
    SoundRecorder* sound = shell.soundRecorder.get();
    if (sound && !sound->Load(journal->GetFileName()))
        TellFileFailure(FileTask::LoadSound, sound->GetFailure(), journal->GetFileName());
}

// The file dialog runs a message loop of its own, which goes on delivering hotkeys, tray clicks
// and menu commands while it is open.
void RunFileCommand(void (*command)()) {
    shell.fileCommandRunning = true;
    command();
    shell.fileCommandRunning = false;
    if (shell.shutdownPending)
        RequestShutdown();
}

// The commands that a running file command refuses: they would change the list it is writing
// or reading, or start a run in the middle of it. Stop is not among them: a save or a load runs
// only while nothing else does, and a playback under the Configuration dialog must still stop.
bool UsesTheRecording(uint32_t command) {
    switch (command) {
        case IDM_RECORD:
        case IDM_PLAY:
        case IDM_SAVE:
        case IDM_LOAD:
        case IDM_EMPTY:
        case IDM_CONFIG:
            return true;
        default:
            return false;
    }
}

void EditSettings();

// True when the command was one of ours.
bool OnCommand(uint32_t command) {
    if (shell.fileCommandRunning && UsesTheRecording(command))
        return true;
    JournalRecorder* journal = shell.journalRecorder.get();
    switch (command) {
        case IDM_RECORD:
            journal->StartRecording(CommandOrigin());
            return true;
        case IDM_PLAY:
            journal->StartPlayback();
            return true;
        case IDM_STOP:
            journal->Stop(CommandOrigin());
            return true;
        case IDM_FASTER:
            journal->SetSpeed(SpeedKind::Faster);
            return true;
        case IDM_SLOWER:
            journal->SetSpeed(SpeedKind::Slower);
            return true;
        case IDM_NORMALSPEED:
            journal->SetSpeed(SpeedKind::Normal);
            return true;
        case IDM_SAVE:
            RunFileCommand(SaveRecord);
            return true;
        case IDM_LOAD:
            RunFileCommand(LoadRecord);
            return true;
        case IDM_CONFIG:
            // Its dialog runs a loop of its own, as the file dialogs do.
            RunFileCommand(EditSettings);
            return true;
        case IDM_EMPTY:
            journal->Clear();
            if (shell.soundRecorder)
                shell.soundRecorder->Clear();
            return true;
        case IDM_SOUND:
            if (shell.popupMenu) {
                ToggleSound();
                // Switched off during a run, the sound track would never hear the stop: it
                // ends now, so that no device runs on and the next start finds it idle.
                if (!shell.soundEnabled && shell.soundRecorder)
                    shell.soundRecorder->Stop(false);
            }
            return true;
        case IDM_HIDE:
            if (shell.trayIcon) {
                shell.trayVisible = !shell.trayVisible;
                shell.trayIcon->SetMode(shell.trayVisible ? TrayMode::Steady : TrayMode::Hidden);
            }
            return true;
        case IDM_EXIT:
            // Stopped here, where what asked for the exit is known, rather than by the shutdown.
            if (journal->IsRecording())
                journal->Stop(CommandOrigin());
            RequestShutdown();
            return true;
        default:
            return false;
    }
}

void OnTimer(uintptr_t id) {
    if (id == TIMER_TRAY && shell.trayIcon) {
        shell.trayIcon->Tick();
        ShowStatusTip();
    } else if (id == TIMER_TIMELIMIT && shell.journalRecorder) {
        shell.journalRecorder->CheckTimeLimit();
    }
}

// The icon tells a start or a stop with its mode and a balloon, while it is on screen.
void ShowState(TrayMode mode, const char* title, const char* text) {
    if (shell.trayVisible && shell.trayIcon) {
        shell.trayIcon->SetMode(mode);
        shell.trayIcon->ShowBalloonWith(title, text, kBalloonIconInfo, kBalloonTimeout);
    }
}

void OnJournalState(uintptr_t code, intptr_t argument) {
    if (!shell.trayMode) {
        if (code == JOURNAL_STOPPED) {
            const char* name = shell.automationFileName.c_str();
            if (argument == STOPPED_RECORDING) {
                if (shell.journalRecorder->Save(name))
                    RemoveSoundFile(name);
                else
                    TellFileFailure(FileTask::SaveJournal, shell.journalRecorder->GetFailure());
            }
            Shutdown();
        } else if (code == JOURNAL_STATUS) {
            ShowStatusTip();
        }
        return;
    }
    switch (code) {
        case JOURNAL_RECORDING:
            if (SoundRecorder* sound = ActiveSound())
                sound->StartRecording();
            else if (shell.soundRecorder)
                shell.soundRecorder->Clear();  // the track held belongs to an earlier recording
            ShowState(TrayMode::Animating, kRecordingTitle, kRecordingText);
            break;
        case JOURNAL_PLAYING:
            shell.soundHolds = 0;
            if (SoundRecorder* sound = PlayingSound())
                sound->StartPlayback();
            ShowState(TrayMode::Blinking, kPlayingTitle, kPlayingText);
            break;
        case JOURNAL_STOPPED:
            shell.soundHolds = 0;
            ShowState(TrayMode::Steady, kStoppedTitle, kStoppedText);
            if (SoundRecorder* sound = ActiveSound())
                sound->Stop(false);
            break;
        case JOURNAL_STATUS:
            ShowStatusTip();
            break;
        case JOURNAL_WAITING:
            // The input waits for a window: the sound track waits with it, so that the two stay
            // in step for the rest of the playback.
            if (shell.journalRecorder->IsPlaying())
                HoldSound(kHeldByWait, argument != 0);
            break;
        case JOURNAL_PASS:
            // Each pass plays the sound track from its start, as the first one did; a pass
            // posted just before the playback ended starts nothing.
            if (SoundRecorder* sound =
                    shell.journalRecorder->IsPlaying() ? PlayingSound() : nullptr) {
                sound->Stop(false);
                sound->StartPlayback();
                if (shell.soundHolds)  // a pass posted just before the menu opened
                    sound->PausePlayback(true);
            }
            ShowStatusTip();
            break;
        default:
            break;
    }
}

}  // namespace

intptr_t MainWindowProc(platform::WindowHandle window, uint32_t message, uintptr_t wParam,
                        intptr_t lParam) {
    switch (message) {
        case WM_NULL:
            shell.menuCommands = false;
            return 0;
        case WM_DESTROY:
            platform::PostQuit(shell.exitCode);
            return 0;
        case WM_CLOSE:
            // Another program asks us to close: the same way out as Exit, never the default
            // procedure's bare DestroyWindow, which would leave the icon, devices and an
            // automation recording behind.
            RequestShutdown();
            return 0;
        case WM_QUERYENDSESSION:
            return 1;  // the session may end
        case WM_ENDSESSION:
            // The process ends once this returns, so the shutdown happens now.
            if (wParam)
                RequestShutdown();
            return 0;
        case WM_CANCELJOURNAL:
            // The system took the hook away (Ctrl+Esc, a locked screen): end the run as a Stop
            // does, with its notification, so that everything that follows the journal stops
            // too and an automation run saves and exits.
            if (shell.journalRecorder)
                shell.journalRecorder->Stop();
            return 0;
        case WM_COMMAND:
            // Before start-up has built the recorder, and after shutdown, commands are ignored.
            if (!shell.journalRecorder)
                return 0;
            if (OnCommand(static_cast<uint32_t>(wParam & 0xFFFF)))
                return 0;
            return platform::DefaultWindowProcedure(window, message, wParam, lParam);
        case WM_TIMER:
            OnTimer(wParam);
            return 0;
        case WM_HOTKEY:
            return OnHotkey(wParam);
        case WM_TRAYNOTIFY:
            if (lParam == WM_LBUTTONUP || lParam == WM_RBUTTONUP)
                ShowPopupMenu();
            return 0;
        case WM_JOURNALSTATE:
            OnJournalState(wParam, lParam);
            // A shutdown that arrived while the recorder was stopping is due now.
            if (wParam == JOURNAL_STOPPED && shell.shutdownPending)
                RequestShutdown();
            return 0;
        default:
            if (shell.trayIcon && message == TrayIcon::ShellRestartMessage()) {
                shell.trayIcon->OnShellRestart();
                return 0;
            }
            return platform::DefaultWindowProcedure(window, message, wParam, lParam);
    }
}

intptr_t OnHotkey(uintptr_t id) {
    const platform::HotkeyChord* chord = Chord(static_cast<int>(id));
    if (chord && shell.journalRecorder)
        shell.journalRecorder->HotkeyTaken(*chord);
    switch (id) {
        case HOTKEY_RECORD:
            SendCommand(IDM_RECORD, HOTKEY_RECORD);
            break;
        case HOTKEY_PLAY:
            SendCommand(IDM_PLAY, HOTKEY_PLAY);
            break;
        case HOTKEY_STOP:
            SendCommand(IDM_STOP, HOTKEY_STOP);
            break;
        case HOTKEY_HIDE:
            SendCommand(IDM_HIDE, HOTKEY_HIDE);
            break;
        case HOTKEY_MENU:
            if (shell.trayMode)
                ShowPopupMenu(Chord(HOTKEY_MENU));
            else
                SendCommand(IDM_EXIT, HOTKEY_MENU);
            break;
        default:
            break;
    }
    return 0;
}

namespace {

// Replayed keys and clicks would work the program's own menu or dialog, and be lost to their
// window: the playback and its sound wait while one is open. Menus and dialogs open inside one
// another (the menu's hotkey in the Configuration dialog): the playback goes on when the last
// closes. True when a playback was held.
bool HoldPlayback() {
    if (!shell.journalRecorder || !shell.journalRecorder->IsPlaying())
        return false;
    if (shell.playbackHolds++ == 0) {
        shell.journalRecorder->PausePlayback(true);
        HoldSound(kHeldByMenu, true);
    }
    return true;
}

void ResumePlayback(bool held) {
    // A close or the end of the session may have shut everything down meanwhile.
    if (!held || --shell.playbackHolds > 0 || !shell.journalRecorder)
        return;
    shell.journalRecorder->PausePlayback(false);
    HoldSound(kHeldByMenu, false);
}

}  // namespace

void ShowPopupMenu(const platform::HotkeyChord* chord) {
    if (!shell.popupMenu)
        return;
    if (shell.journalRecorder)
        shell.journalRecorder->MenuOpened(chord);
    shell.menuCommands = true;
    bool held = HoldPlayback();
    uint32_t chosen = platform::TrackPopupMenuAtCursor(shell.popupMenu, shell.mainWindow);
    // What was chosen acts before the playback goes on: a Stop or an Exit ends it where the menu
    // held it, with nothing pressed again and nothing injected meanwhile.
    if (chosen)
        platform::SendToWindow(shell.mainWindow, WM_COMMAND, chosen, 0);
    ResumePlayback(held);
}

namespace {

// The Configuration dialog: how Play repeats, follows windows, waits for the screen and plays
// the mouse, for as long as the process runs. A pause left at the recording's last gap stays so
// for the next recording.
void EditSettings() {
    JournalRecorder* journal = shell.journalRecorder.get();
    platform::PlaySettings settings = {journal->GetRepeat(),
                                       journal->GetRepeatPause(),
                                       journal->FollowsWindows(),
                                       journal->GetLongestWait() / 1000,
                                       journal->WaitsForScreen(),
                                       journal->GoesOnWhenReady(),
                                       static_cast<uint32_t>(journal->GetMouseMode())};
    platform::PlaySettings shown = settings;
    bool held = HoldPlayback();
    bool accepted = platform::EditPlaySettings(shell.appInstance, shell.mainWindow, IDD_CONFIG,
                                               IDI_MAIN, &settings);
    ResumePlayback(held);
    if (!accepted || !shell.journalRecorder)
        return;
    journal->SetRepeat(settings.repeat,
                       journal->PausesByLastGap() && settings.pauseMs == shown.pauseMs,
                       settings.pauseMs);
    journal->SetWindowFollowing(settings.followWindows, settings.longestWaitS * 1000);
    journal->SetScreenWaiting(settings.waitForScreen, settings.goOnWhenReady);
    journal->SetMouseMode(static_cast<MouseMode>(settings.mouse));
}

}  // namespace

void ToggleSound() {
    shell.soundEnabled = !shell.soundEnabled;
    platform::CheckMenuCommand(shell.popupMenu, IDM_SOUND, shell.soundEnabled);
}

void ApplySoundAvailability() {
    if (shell.soundRecorder && shell.soundRecorder->IsAvailable()) {
        platform::EnableMenuCommand(shell.popupMenu, IDM_SOUND, 1);
        return;
    }
    shell.soundEnabled = true;
    ToggleSound();
    platform::EnableMenuCommand(shell.popupMenu, IDM_SOUND, 0);
}
