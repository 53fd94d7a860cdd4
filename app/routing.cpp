// The main window's procedure: turns commands, hotkeys, timer ticks, the tray icon's clicks and
// the journal's notifications into calls on the journal, the sound track and the tray icon.
#include "app/balloon_texts.h"
#include "app/resources/resource.h"
#include "app/shell.h"
#include "journal/journal_recorder.h"
#include "platform/window.h"
#include "sound/sound_recorder.h"
#include "tray/tray_icon.h"

namespace {

const uint32_t kBalloonIconInfo = 1;
const uint32_t kBalloonTimeout = 300;

void SendCommand(uint32_t command) {
    platform::SendToWindow(mainWindow, WM_COMMAND, command, 0);
}

void ShowStatusTip() {
    if (trayVisible && trayIcon && journalRecorder) {
        trayIcon->SetTexts(journalRecorder->GetStatusText(), "", "", nullptr);
    }
}

void SaveRecord() {
    // The sound goes beside a journal only when that journal was written: a refused save would
    // otherwise overwrite the sound of an earlier recording. A journal written without its
    // sound takes the old sound file away with the journal it replaced.
    if (!journalRecorder->Save(""))
        return;
    const char* name = journalRecorder->GetFileName();
    if (!(soundEnabled && soundRecorder && soundRecorder->Save(name)))
        RemoveSoundFile(name);
}

void LoadRecord() {
    // A journal and its sound never come from two different recordings.
    if (journalRecorder->Load("") && soundEnabled && soundRecorder) {
        soundRecorder->Load(journalRecorder->GetFileName());
    }
}

// The file dialog runs a message loop of its own, which goes on delivering hotkeys, tray clicks
// and menu commands while it is open.
void RunFileCommand(void (*command)()) {
    fileCommandRunning = true;
    command();
    fileCommandRunning = false;
    if (shutdownPending)
        RequestShutdown();
}

// The commands that a running file command refuses: they would change the list it is writing
// or reading, or start a run in the middle of it.
bool UsesTheRecording(uint32_t command) {
    switch (command) {
        case IDM_RECORD:
        case IDM_PLAY:
        case IDM_STOP:
        case IDM_SAVE:
        case IDM_LOAD:
        case IDM_EMPTY:
            return true;
        default:
            return false;
    }
}

// Returns 1 when the command was one of ours.
int32_t OnCommand(uint32_t command) {
    if (fileCommandRunning && UsesTheRecording(command))
        return 1;
    switch (command) {
        case IDM_RECORD:
            journalRecorder->StartRecording();
            return 1;
        case IDM_PLAY:
            journalRecorder->StartPlayback();
            return 1;
        case IDM_STOP:
            journalRecorder->Stop();
            return 1;
        case IDM_FASTER:
            journalRecorder->SetSpeed(SPEED_FASTER);
            return 1;
        case IDM_SLOWER:
            journalRecorder->SetSpeed(SPEED_SLOWER);
            return 1;
        case IDM_NORMALSPEED:
            journalRecorder->SetSpeed(SPEED_NORMAL);
            return 1;
        case IDM_SAVE:
            RunFileCommand(SaveRecord);
            return 1;
        case IDM_LOAD:
            RunFileCommand(LoadRecord);
            return 1;
        case IDM_EMPTY:
            journalRecorder->Clear();
            if (soundEnabled && soundRecorder)
                soundRecorder->Clear();
            return 1;
        case IDM_SOUND:
            if (popupMenu)
                ToggleSound();
            return 1;
        case IDM_HIDE:
            if (trayIcon) {
                trayVisible = 1 - trayVisible;
                trayIcon->SetMode(trayVisible ? 1 : 0);
            }
            return 1;
        case IDM_EXIT:
            RequestShutdown();
            return 1;
        default:
            return 0;
    }
}

void OnTimer(uintptr_t id) {
    if (id == TIMER_TRAY && trayIcon) {
        trayIcon->Tick();
        ShowStatusTip();
    } else if (id == TIMER_TIMELIMIT && journalRecorder) {
        journalRecorder->CheckTimeLimit();
    }
}

void OnJournalState(uintptr_t code, intptr_t argument) {
    if (!trayMode) {
        if (code == JOURNAL_STOPPED) {
            if (argument == STOPPED_RECORDING && journalRecorder->Save(automationFileName))
                RemoveSoundFile(automationFileName);
            Shutdown();
        } else if (code == JOURNAL_STATUS) {
            ShowStatusTip();
        }
        return;
    }
    switch (code) {
        case JOURNAL_RECORDING:
            if (soundEnabled && soundRecorder)
                soundRecorder->StartRecording();
            if (trayVisible && trayIcon) {
                trayIcon->SetMode(2);
                trayIcon->ShowBalloonWith(kRecordingTitle, kRecordingText, kBalloonIconInfo,
                                          kBalloonTimeout);
            }
            break;
        case JOURNAL_PLAYING:
            if (soundEnabled && soundRecorder)
                soundRecorder->StartPlayback();
            if (trayVisible && trayIcon) {
                trayIcon->SetMode(3);
                trayIcon->ShowBalloonWith(kPlayingTitle, kPlayingText, kBalloonIconInfo,
                                          kBalloonTimeout);
            }
            break;
        case JOURNAL_STOPPED:
            if (trayVisible && trayIcon) {
                trayIcon->SetMode(1);
                trayIcon->ShowBalloonWith(kStoppedTitle, kStoppedText, kBalloonIconInfo,
                                          kBalloonTimeout);
            }
            if (soundEnabled && soundRecorder)
                soundRecorder->Stop(0);
            break;
        case JOURNAL_STATUS:
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
        case WM_DESTROY:
            platform::PostQuit(0);
            return 0;
        case WM_CLOSE:
            // Another program asks us to close: the same way out as Exit, never the default
            // procedure's bare DestroyWindow, which would leave the icon, devices and an
            // automation recording behind.
            RequestShutdown();
            return 0;
        case WM_QUERYENDSESSION:
            return 1;
        case WM_ENDSESSION:
            // The process ends once this returns, so the shutdown happens now.
            if (wParam)
                RequestShutdown();
            return 0;
        case WM_COMMAND:
            // Before start-up has built the recorder, and after shutdown, commands are ignored.
            if (!journalRecorder)
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
            return 0;
        default:
            if (trayIcon && message == TrayIcon::ShellRestartMessage()) {
                trayIcon->OnShellRestart();
                return 0;
            }
            return platform::DefaultWindowProcedure(window, message, wParam, lParam);
    }
}

intptr_t OnHotkey(uintptr_t id) {
    switch (id) {
        case HOTKEY_RECORD:
            SendCommand(IDM_RECORD);
            break;
        case HOTKEY_PLAY:
            SendCommand(IDM_PLAY);
            break;
        case HOTKEY_STOP:
            SendCommand(IDM_STOP);
            break;
        case HOTKEY_HIDE:
            SendCommand(IDM_HIDE);
            break;
        case HOTKEY_MENU:
            if (trayMode) {
                ShowPopupMenu();
            } else {
                SendCommand(IDM_EXIT);
            }
            break;
        default:
            break;
    }
    return 0;
}

void ShowPopupMenu() {
    if (popupMenu)
        platform::TrackPopupMenuAtCursor(popupMenu, mainWindow);
}

void ToggleSound() {
    soundEnabled = 1 - soundEnabled;
    platform::CheckMenuCommand(popupMenu, IDM_SOUND, soundEnabled);
}

void ApplySoundAvailability() {
    if (soundRecorder && soundRecorder->IsAvailable()) {
        platform::EnableMenuCommand(popupMenu, IDM_SOUND, 1);
        return;
    }
    soundEnabled = 1;
    ToggleSound();
    platform::EnableMenuCommand(popupMenu, IDM_SOUND, 0);
}
