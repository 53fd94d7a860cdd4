// Start-up, the command line, the two modes and shutdown.
#include "app/shell.h"

#include <cstdlib>
#include <cstring>

#include "app/resources/resource.h"
#include "journal/journal_recorder.h"
#include "platform/window.h"
#include "sound/sound_recorder.h"
#include "tray/tray_icon.h"

char appName[100];
platform::InstanceHandle appInstance;
platform::WindowHandle mainWindow;
platform::MenuHandle popupMenu;
int32_t trayMode;
uint32_t startCommand;
int32_t timeLimitMinutes;
char* automationFileName;
int32_t soundEnabled;
int32_t trayVisible;
JournalRecorder* journalRecorder;
SoundRecorder* soundRecorder;
TrayIcon* trayIcon;
bool fileCommandRunning;
bool shutdownPending;

namespace {

const uint32_t kHotkeyModifiers = MOD_ALT | MOD_CONTROL | MOD_SHIFT;

// Set by the first Shutdown; a nested request (the stop notification of the recorder being
// destroyed) is ignored, so nothing is saved or destroyed twice.
int32_t shuttingDown;

// The text behind the two-character switch, verbatim; empty when there is none.
const char* CommandText(const char* argumentText) {
    return strlen(argumentText) < 2 ? "" : argumentText + 2;
}

void FreeAutomationFileName() {
    free(automationFileName);
    automationFileName = nullptr;
}

}  // namespace

int32_t ParseCommandLine(const char* argumentText) {
    const char* command = CommandText(argumentText);
    FreeAutomationFileName();
    automationFileName = static_cast<char*>(calloc(strlen(command) + 2, 1));
    trayMode = 1;
    timeLimitMinutes = 7;
    startCommand = 0;
    if (argumentText[0] != '-')
        return 1;
    switch (argumentText[1]) {
        case 'P':
            startCommand = IDM_PLAY;
            timeLimitMinutes = 1;
            break;
        case 'R':
            startCommand = IDM_RECORD;
            timeLimitMinutes = 1;
            break;
        case 'r':
            startCommand = IDM_RECORD;
            timeLimitMinutes = 3;
            break;
        default:
            startCommand = 0;
            timeLimitMinutes = 7;
            return 1;
    }
    if (platform::LaunchProgram(command) > 31) {
        trayMode = 0;
    } else {
        timeLimitMinutes = 7;
    }
    return 1;
}

int32_t RegisterMainClass(platform::InstanceHandle instance) {
    return platform::RegisterMainWindowClass(instance, appName, MainWindowProc, IDI_MAIN,
                                             IDR_MAINMENU);
}

int32_t CreateMainWindow(platform::InstanceHandle instance, int) {
    appInstance = instance;
    mainWindow = platform::CreateHiddenWindow(instance, appName);
    return mainWindow != nullptr;
}

void InitJournal(const char* argumentText) {
    soundEnabled = 0;
    trayVisible = 0;
    journalRecorder = new JournalRecorder(appInstance, mainWindow, timeLimitMinutes, appName);
    platform::RegisterGlobalHotkey(mainWindow, HOTKEY_MENU, kHotkeyModifiers, VK_DELETE);
    if (trayMode)
        return;
    const char* command = CommandText(argumentText);
    size_t length = strlen(command);
    memcpy(automationFileName, command, length);
    automationFileName[length] = '_';
    automationFileName[length + 1] = '\0';
    if (startCommand == IDM_PLAY)
        journalRecorder->Load(automationFileName);
    MainWindowProc(mainWindow, WM_COMMAND, startCommand, 0);
}

void InitTray() {
    popupMenu = platform::DetachPopupMenu(mainWindow);
    soundRecorder = new SoundRecorder(appName);
    soundEnabled = 0;
    ToggleSound();
    ApplySoundAvailability();
    trayIcon = new TrayIcon(mainWindow, platform::LoadIconResource(appInstance, IDI_MAIN),
                            platform::LoadIconResource(appInstance, IDI_BLANK));
    static const int kFrames[] = {IDI_FRAME_RAISED, IDI_MAIN,       IDI_FRAME_RIGHT,
                                  IDI_FRAME_MIDDLE, IDI_FRAME_LEFT, IDI_FRAME_MIDDLE,
                                  IDI_FRAME_RIGHT};
    for (int frame : kFrames)
        trayIcon->AddFrame(platform::LoadIconResource(appInstance, frame));
    trayVisible = 1;
    trayIcon->SetMode(1);
    trayIcon->ShowBalloon();
    platform::RegisterGlobalHotkey(mainWindow, HOTKEY_RECORD, kHotkeyModifiers, 'R');
    platform::RegisterGlobalHotkey(mainWindow, HOTKEY_PLAY, kHotkeyModifiers, 'P');
    platform::RegisterGlobalHotkey(mainWindow, HOTKEY_STOP, kHotkeyModifiers, 'S');
    platform::RegisterGlobalHotkey(mainWindow, HOTKEY_HIDE, kHotkeyModifiers, 'H');
}

void Shutdown() {
    if (shuttingDown)
        return;
    shuttingDown = 1;
    if (journalRecorder) {
        // Its destruction stops a running recording or playback; the stop notification is
        // handled while the others still exist and may save the recording.
        delete journalRecorder;
        journalRecorder = nullptr;
    }
    if (soundRecorder) {
        // Sound may have been switched off during a run, so its stop never reached the
        // recorder; a device must not outlive it.
        soundRecorder->Stop(0);
        delete soundRecorder;
        soundRecorder = nullptr;
    }
    if (trayIcon) {
        delete trayIcon;
        trayIcon = nullptr;
    }
    FreeAutomationFileName();
    platform::DestroyWindowNow(mainWindow);
}

void RequestShutdown() {
    if (fileCommandRunning) {
        shutdownPending = true;
        return;
    }
    shutdownPending = false;
    Shutdown();
}

int AppMain(platform::InstanceHandle instance, const char* argumentText, int showCommand) {
    shuttingDown = 0;
    shutdownPending = false;
    fileCommandRunning = false;
    popupMenu = nullptr;
    if (!argumentText)
        argumentText = "";
    ParseCommandLine(argumentText);
    platform::LoadTextResource(instance, IDS_APP_NAME, appName, sizeof appName);
    // A running instance holds the name: leave at once; a launched command keeps running.
    if (platform::CreateInstanceMutex(appName) != 0) {
        FreeAutomationFileName();
        return 0;
    }
    RegisterMainClass(instance);
    if (!CreateMainWindow(instance, showCommand)) {
        FreeAutomationFileName();
        return 0;
    }
    InitJournal(argumentText);
    if (trayMode)
        InitTray();
    return platform::RunMessageLoop(instance, IDR_ACCELERATORS);
}
