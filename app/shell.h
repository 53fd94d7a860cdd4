// The application shell: start-up, the two modes, the main window's procedure, shutdown.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/program_ids.h"
#include "platform/types.h"
#include "platform/window.h"

class JournalRecorder;
class SoundRecorder;
class TrayIcon;
struct FileFailure;

// The program's exit codes: done; an automation run whose journal could not be loaded or saved;
// an automation run refused because the program runs already (its command was started).
inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitRefused = 2;

// The process's shell state: what start-up builds and the window procedure reads and changes.
struct ShellState {
    ShellState();
    ~ShellState();
    ShellState& operator=(ShellState&&);

    char appName[100];
    platform::InstanceHandle appInstance;
    platform::WindowHandle mainWindow;
    platform::MenuHandle popupMenu;
    bool trayMode;
    uint32_t startCommand;
    int32_t timeLimitMinutes;
    // The command text and "_" in an automation run: the journal it records or plays.
    std::string automationFileName;
    bool soundEnabled;
    bool trayVisible;
    std::unique_ptr<JournalRecorder> journalRecorder;
    std::unique_ptr<SoundRecorder> soundRecorder;  // tray mode only
    std::unique_ptr<TrayIcon> trayIcon;            // tray mode only

    // True while Save Record or Load Record runs: its dialog's own message loop keeps delivering
    // commands, and those that would change or use the recording are refused meanwhile.
    bool fileCommandRunning;
    // What holds the sound track of a playback (kHeldBy... bits): the menu or a dialog, a window
    // the replay waits for. It plays again when nothing holds it.
    uint32_t soundHolds;
    // The menus and dialogs open during a playback, which waits until the last has closed.
    uint32_t playbackHolds;
    // An exit asked for while a file command ran, or while the recorder was stopping; carried
    // out when that has finished.
    bool shutdownPending;
    // What the command being routed came from: a hotkey, or the menu (from its opening until the
    // null message posted after it closed, which comes after the command it posted).
    const platform::HotkeyChord* commandChord;
    bool menuCommands;
    // Set by the first Shutdown: a nested request (the stop notification it causes) is ignored,
    // so nothing is saved or destroyed twice.
    bool shuttingDown;
    int exitCode;
};

extern ShellState shell;

// Destroys whatever a run of the program left and starts afresh; for the tests, which run the
// program many times in one process.
void ResetShellState();

// The sound recorder while Sound is on: the one that follows the journal. Null otherwise, and
// always in automation mode.
SoundRecorder* ActiveSound();

// The body of the program's entry point; returns the exit code.
int AppMain(platform::InstanceHandle instance, const char* argumentText, int showCommand);

void ParseCommandLine(const char* argumentText);
void RegisterMainClass(platform::InstanceHandle instance);
bool CreateMainWindow(platform::InstanceHandle instance, int showCommand);
void InitJournal(const char* argumentText);
void InitTray();
void Shutdown();
// Exit, a close from another program and the end of the session: Shutdown now, or as soon as a
// running Save Record or Load Record has finished.
void RequestShutdown();

// A save or a load that failed, told to the user: in tray mode in a message box, in an automation
// run on the debug channel and by the exit code. A failure that is none (a cancelled dialog) is
// not told. `journal`: the journal the sound file belongs to.
enum class FileTask { SaveJournal, SaveSound, LoadJournal, LoadSound };
void TellFileFailure(FileTask task, const FileFailure& failure, const char* journal = "");

intptr_t MainWindowProc(platform::WindowHandle window, uint32_t message, uintptr_t wParam,
                        intptr_t lParam);
// `chord`: the hotkey that opens it; null for a click on the icon.
void ShowPopupMenu(const platform::HotkeyChord* chord = nullptr);
void ToggleSound();
void ApplySoundAvailability();
intptr_t OnHotkey(uintptr_t id);
