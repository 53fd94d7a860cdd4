// Start-up, the command line, the two modes and shutdown.
#include "app/shell.h"

#include <cstring>
#include <iterator>

#include "journal/journal_recorder.h"
#include "platform/file.h"
#include "platform/program_ids.h"
#include "platform/window.h"
#include "sound/sound_recorder.h"
#include "tray/tray_icon.h"

ShellState shell;

ShellState::ShellState()
    : appName(),
      appInstance(nullptr),
      mainWindow(nullptr),
      popupMenu(nullptr),
      trayMode(false),
      startCommand(0),
      timeLimitMinutes(0),
      soundEnabled(false),
      trayVisible(false),
      fileCommandRunning(false),
      soundHolds(0),
      playbackHolds(0),
      shutdownPending(false),
      commandChord(nullptr),
      menuCommands(false),
      shuttingDown(false),
      exitCode(kExitDone) {}

ShellState::~ShellState() = default;
ShellState& ShellState::operator=(ShellState&&) = default;

void ResetShellState() {
    shell.journalRecorder.reset();
    shell.soundRecorder.reset();
    shell.trayIcon.reset();
    shell = ShellState();
}

SoundRecorder* ActiveSound() {
    return shell.soundEnabled ? shell.soundRecorder.get() : nullptr;
}

namespace {

// Registers the program's hotkeys: the menu's, or all the others.
void RegisterHotkeys(bool menu) {
    for (const platform::HotkeyChord& chord : journal::kHotkeys)
        if ((chord.id == HOTKEY_MENU) == menu)
            platform::RegisterGlobalHotkey(shell.mainWindow, chord.id, chord.modifiers, chord.key);
}

// The text behind the two-character switch, verbatim; empty when there is none.
const char* CommandText(const char* argumentText) {
    return strlen(argumentText) < 2 ? "" : argumentText + 2;
}

}  // namespace

void ParseCommandLine(const char* argumentText) {
    const char* command = CommandText(argumentText);
    shell.automationFileName.clear();
    shell.trayMode = true;
    shell.timeLimitMinutes = 7;
    shell.startCommand = 0;
    if (argumentText[0] != '-')
        return;
    switch (argumentText[1]) {
        case 'P':
            shell.startCommand = IDM_PLAY;
            shell.timeLimitMinutes = 1;
            break;
        case 'R':
            shell.startCommand = IDM_RECORD;
            shell.timeLimitMinutes = 1;
            break;
        case 'r':
            shell.startCommand = IDM_RECORD;
            shell.timeLimitMinutes = 3;
            break;
        default:
            shell.startCommand = 0;
            shell.timeLimitMinutes = 7;
            return;
    }
    if (platform::LaunchProgram(command) > 31)
        shell.trayMode = false;
    else
        shell.timeLimitMinutes = 7;
}

void RegisterMainClass(platform::InstanceHandle instance) {
    platform::RegisterMainWindowClass(instance, shell.appName, MainWindowProc, IDI_MAIN,
                                      IDR_MAINMENU);
}

bool CreateMainWindow(platform::InstanceHandle instance, int) {
    shell.appInstance = instance;
    shell.mainWindow = platform::CreateHiddenWindow(instance, shell.appName);
    return shell.mainWindow != nullptr;
}

void InitJournal(const char* argumentText) {
    shell.soundEnabled = false;
    shell.trayVisible = false;
    shell.journalRecorder.reset(new JournalRecorder(shell.appInstance, shell.mainWindow,
                                                    shell.timeLimitMinutes, shell.appName));
    shell.journalRecorder->SetHotkeys(journal::kHotkeys, std::size(journal::kHotkeys));
    RegisterHotkeys(true);
    if (shell.trayMode)
        return;
    // A bare name lies in the current folder; a command given as a path names a file beside
    // that program.
    shell.automationFileName = platform::FileNameFromSystemText(CommandText(argumentText)) + "_";
    // A play run without its journal waits for the hotkey all the same, and then says it failed.
    if (shell.startCommand == IDM_PLAY &&
        !shell.journalRecorder->Load(shell.automationFileName.c_str()))
        TellFileFailure(FileTask::LoadJournal, shell.journalRecorder->GetFailure());
    MainWindowProc(shell.mainWindow, WM_COMMAND, shell.startCommand, 0);
}

void InitTray() {
    shell.popupMenu = platform::DetachPopupMenu(shell.mainWindow);
    shell.soundRecorder.reset(new SoundRecorder(shell.appName));
    shell.soundEnabled = false;
    ToggleSound();
    ApplySoundAvailability();
    platform::InstanceHandle instance = shell.appInstance;
    shell.trayIcon.reset(new TrayIcon(shell.mainWindow,
                                      platform::LoadIconResource(instance, IDI_MAIN),
                                      platform::LoadIconResource(instance, IDI_BLANK)));
    static const int kFrames[] = {IDI_FRAME_RAISED, IDI_MAIN,       IDI_FRAME_RIGHT,
                                  IDI_FRAME_MIDDLE, IDI_FRAME_LEFT, IDI_FRAME_MIDDLE,
                                  IDI_FRAME_RIGHT};
    for (int frame : kFrames)
        shell.trayIcon->AddFrame(platform::LoadIconResource(instance, frame));
    shell.trayVisible = true;
    shell.trayIcon->SetMode(TrayMode::Steady);
    shell.trayIcon->ShowBalloon();
    RegisterHotkeys(false);
}

void Shutdown() {
    if (shell.shuttingDown)
        return;
    shell.shuttingDown = true;
    if (shell.journalRecorder) {
        // Stopped first, so that the stop notification is handled while everything else still
        // exists; it may save the recording.
        shell.journalRecorder->Stop();
        shell.journalRecorder.reset();
    }
    if (shell.soundRecorder) {
        // Sound may have been switched off during a run, so its stop never reached the
        // recorder; a device must not outlive it.
        shell.soundRecorder->Stop(false);
        shell.soundRecorder.reset();
    }
    shell.trayIcon.reset();
    shell.automationFileName.clear();
    platform::DestroyWindowNow(shell.mainWindow);
}

void RequestShutdown() {
    // A shutdown inside Stop would destroy the recorder that Stop goes on using; it is carried
    // out at the stop notification, once the hook is gone.
    bool stopping = shell.journalRecorder && shell.journalRecorder->IsStopping();
    if (shell.fileCommandRunning || stopping) {
        shell.shutdownPending = true;
        return;
    }
    shell.shutdownPending = false;
    Shutdown();
}

int AppMain(platform::InstanceHandle instance, const char* argumentText, int showCommand) {
    ResetShellState();
    if (!argumentText)
        argumentText = "";
    ParseCommandLine(argumentText);
    platform::LoadTextResource(instance, IDS_APP_NAME, shell.appName, sizeof shell.appName);
    // A running instance holds the name: leave at once; a launched command keeps running. An
    // automation run says that it did not run.
    if (platform::CreateInstanceMutex(shell.appName) != 0) {
        if (shell.trayMode)
            return kExitDone;
        platform::ReportToDebugger("the automation run is refused: the program runs already");
        return kExitRefused;
    }
    RegisterMainClass(instance);
    if (!CreateMainWindow(instance, showCommand))
        return 0;
    InitJournal(argumentText);
    if (shell.trayMode)
        InitTray();
    return platform::RunMessageLoop(instance, IDR_ACCELERATORS);
}
