// Windows, messages, timers, hotkeys, menus, resources and the process services the shell needs.
#pragma once

#include <cstdint>

#include "platform/types.h"

// Message and flag values of the platform, for code that does not see <windows.h>.
#ifndef WM_DESTROY
#define WM_NULL 0x0000
#define WM_DESTROY 0x0002
#define WM_CLOSE 0x0010
#define WM_QUERYENDSESSION 0x0011
#define WM_ENDSESSION 0x0016
#define WM_CANCELJOURNAL 0x004B
#define WM_COMMAND 0x0111
#define WM_TIMER 0x0113
#define WM_HOTKEY 0x0312
#define WM_MOUSEMOVE 0x0200
#define WM_LBUTTONDOWN 0x0201
#define WM_LBUTTONUP 0x0202
#define WM_LBUTTONDBLCLK 0x0203
#define WM_RBUTTONDOWN 0x0204
#define WM_RBUTTONUP 0x0205
#define WM_MBUTTONDOWN 0x0207
#define WM_MBUTTONUP 0x0208
#define WM_MOUSEWHEEL 0x020A
#define WM_XBUTTONDOWN 0x020B
#define WM_XBUTTONUP 0x020C
#define WM_MOUSEHWHEEL 0x020E
#define WM_KEYDOWN 0x0100
#define WM_KEYUP 0x0101
#define WM_SYSKEYDOWN 0x0104
#define WM_SYSKEYUP 0x0105
#define MOD_ALT 0x0001
#define MOD_CONTROL 0x0002
#define MOD_SHIFT 0x0004
#define VK_DELETE 0x2E
#define SPI_SETSCREENSAVEACTIVE 17
#define SPI_SETSCREENSAVERRUNNING 97
#endif

namespace platform {

typedef intptr_t (*WindowProcedure)(WindowHandle window, uint32_t message, uintptr_t wParam,
                                    intptr_t lParam);

// Registers the main window class: the given procedure, icon and small icon `iconId`, the arrow
// cursor, the window colour as background and menu resource `menuId`.
int RegisterMainWindowClass(InstanceHandle instance, const char* className,
                            WindowProcedure procedure, int iconId, int menuId);
// A WS_POPUP window at (0, 0) of size 0 x 0 with an empty title, never shown. Null on failure.
WindowHandle CreateHiddenWindow(InstanceHandle instance, const char* className);
// The window's procedure sees WM_DESTROY before this returns.
void DestroyWindowNow(WindowHandle window);
intptr_t DefaultWindowProcedure(WindowHandle window, uint32_t message, uintptr_t wParam,
                                intptr_t lParam);
// Synchronous: the window's procedure has run when this returns.
intptr_t SendToWindow(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);
// Queued: the procedure runs from the message loop.
void PostToWindow(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);
void PostQuit(int exitCode);
// Runs until the quit message; each message is offered to accelerator table `acceleratorId`
// first. Returns the quit code. WM_CANCELJOURNAL, which the input layer posts to the thread
// without a window when the system (or the user's way out of a playback) ended a recording or
// playback, goes to the procedure of the last hidden window created, from this loop and from
// the modal loop of any menu or dialog.
int RunMessageLoop(InstanceHandle instance, int acceleratorId);

int StartTimer(WindowHandle window, uintptr_t id, uint32_t milliseconds);
void StopTimer(WindowHandle window, uintptr_t id);
int RegisterGlobalHotkey(WindowHandle window, int id, uint32_t modifiers, uint32_t virtualKey);
// A hotkey as RegisterGlobalHotkey takes it: the MOD_* bits held and the key pressed.
struct HotkeyChord {
    int id;
    uint32_t modifiers;
    uint32_t key;
};

// Takes the first popup out of the window's menu and detaches the menu from the window.
MenuHandle DetachPopupMenu(WindowHandle window);
void CheckMenuCommand(MenuHandle menu, uint32_t command, int checked);
void EnableMenuCommand(MenuHandle menu, uint32_t command, int enabled);
// Opens the menu with its top-left corner at the mouse position and returns the command chosen
// (0 for none), for the caller to send to `owner` as WM_COMMAND. Makes `owner` the foreground
// window first, as notification-area menus need to take keys and to close when the user clicks
// elsewhere.
uint32_t TrackPopupMenuAtCursor(MenuHandle menu, WindowHandle owner);

// What the Configuration dialog shows and edits.
struct PlaySettings {
    uint32_t repeat;  // 0: until stopped
    uint32_t pauseMs;
    bool followWindows;
    uint32_t longestWaitS;
    bool waitForScreen;
    bool goOnWhenReady;
    uint32_t mouse;  // 0: follow the recording, 1: by place, 2: by motion
};
// The dialog resource's controls, by these ids: three number fields, three check boxes and three
// radio buttons in a row, one for each way of playing the mouse.
const int kRepeatField = 1001;
const int kPauseField = 1002;
const int kFollowBox = 1003;
const int kWaitField = 1004;
const int kScreenBox = 1005;
const int kGoOnBox = 1006;
const int kMouseButtons = 1007;
// The text beside a number field that tells its range: the field's id + this.
const int kRangeOffset = 10;
// The largest numbers the fields take.
const uint32_t kMostRepeats = 1000000;
const uint32_t kLongestPauseMs = 3600000;
const uint32_t kLongestWaitS = 3600;
// Shows dialog resource `dialogId`, owned by `owner`, with icon `iconId`, on the monitor of the
// mouse, filled with `settings`, the Repeat field focused and its text selected; each number field
// shows its range beside it. True, with `settings` as the user left them, when OK closed it; false
// and nothing changed on Cancel. OK with a field that holds anything but a whole number in its
// range (or the number the dialog showed in it) names the range in a message box and selects
// that field instead of closing.
bool EditPlaySettings(InstanceHandle instance, WindowHandle owner, int dialogId, int iconId,
                      PlaySettings* settings);

// Shows `text` (UTF-8, paragraphs parted by blank lines) in a message box titled `title` with a
// warning icon and an OK button, owned by `owner` and in front of other windows; returns once the
// user has closed it.
void ShowMessageBox(WindowHandle owner, const char* title, const char* text);
// Sends one line to the debug channel, where the platform reports the calls that failed.
void ReportToDebugger(const char* text);

// Copies string resource `id` into `text` (at most capacity - 1 characters and a terminator).
int LoadTextResource(InstanceHandle instance, int id, char* text, int capacity);
IconHandle LoadIconResource(InstanceHandle instance, int id);

// Starts `command` as a new program shown normally, without waiting. Above 31 means started.
uint32_t LaunchProgram(const char* command);
// Creates the named mutex, initially owned. Returns the platform's last-error value for the
// call: 0 when this process created it.
uint32_t CreateInstanceMutex(const char* name);
// SystemParametersInfo with a null pointer and no profile update.
void SetSystemParameter(uint32_t action, uint32_t value);

}  // namespace platform
