// The application shell: start-up, the two modes, the main window's procedure, shutdown.
#pragma once

#include <cstdint>

#include "platform/types.h"

class JournalRecorder;
class SoundRecorder;
class TrayIcon;

#define HOTKEY_RECORD 0x400
#define HOTKEY_PLAY 0x401
#define HOTKEY_STOP 0x402
#define HOTKEY_HIDE 0x403
#define HOTKEY_MENU 0x409

// The shell's state, shared by start-up and the window procedure.
extern char appName[100];
extern platform::InstanceHandle appInstance;
extern platform::WindowHandle mainWindow;
extern platform::MenuHandle popupMenu;
extern int32_t trayMode;
extern uint32_t startCommand;
extern int32_t timeLimitMinutes;
extern char* automationFileName;
extern int32_t soundEnabled;
extern int32_t trayVisible;
extern JournalRecorder* journalRecorder;
extern SoundRecorder* soundRecorder;
extern TrayIcon* trayIcon;
// True while Save Record or Load Record runs: its dialog's own message loop keeps delivering
// commands, and those that would change or use the recording are refused meanwhile.
extern bool fileCommandRunning;
// An exit asked for while a file command ran; carried out when it has finished.
extern bool shutdownPending;

// The body of the program's entry point; returns the exit code.
int AppMain(platform::InstanceHandle instance, const char* argumentText, int showCommand);

int32_t ParseCommandLine(const char* argumentText);
int32_t RegisterMainClass(platform::InstanceHandle instance);
int32_t CreateMainWindow(platform::InstanceHandle instance, int showCommand);
void InitJournal(const char* argumentText);
void InitTray();
void Shutdown();
// Exit, a close from another program and the end of the session: Shutdown now, or as soon as a
// running Save Record or Load Record has finished.
void RequestShutdown();

intptr_t MainWindowProc(platform::WindowHandle window, uint32_t message, uintptr_t wParam,
                        intptr_t lParam);
void ShowPopupMenu();
void ToggleSound();
void ApplySoundAvailability();
intptr_t OnHotkey(uintptr_t id);
