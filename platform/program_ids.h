// Every id the program chooses for itself, in one table so that no two collide unnoticed: the
// private window messages, the timers, the hotkeys, and the resource and command ids. Plain
// macros, because the resource compiler reads this file too (both .rc files include it). It sits
// below every room of the program, which all include it from here; what a message's parameters
// mean belongs to whoever sends it.
#pragma once

// ---- Private messages (WM_USER and above) ------------------------------------------------------
// The tray icon's callback message to the main window; lParam carries the mouse message.
#define WM_TRAYNOTIFY 0x800
// The recorder's notification to the main window; its codes are the recorder's
// (journal/journal_recorder.h).
#define WM_JOURNALSTATE 0x801
// The playback sink's timer thread to the sink's own message-only window (WM_APP + 1); wParam
// the sink's generation: ask for more events.
#define WM_PLAYBACKFILL 0x8001

// ---- Timers on the main window ------------------------------------------------------------------
#define TIMER_TRAY 0x800       // the icon's animation tick
#define TIMER_TIMELIMIT 0x801  // the recording's time-limit tick

// ---- Hotkeys (RegisterHotKey ids, all Ctrl+Alt+Shift) -------------------------------------------
#define HOTKEY_RECORD 0x400  // R
#define HOTKEY_PLAY 0x401    // P
#define HOTKEY_STOP 0x402    // S
#define HOTKEY_HIDE 0x403    // H
#define HOTKEY_MENU 0x409    // Delete

// ---- Resources ---------------------------------------------------------------------------------
#define IDS_APP_NAME 109
#define IDR_MAINMENU 109
#define IDR_ACCELERATORS 109

// The Configuration dialog and its controls, by the ids platform::EditPlaySettings knows.
#define IDD_CONFIG 120
#define IDC_REPEAT 1001
#define IDC_PAUSE 1002
#define IDC_FOLLOW 1003
#define IDC_WINDOW_WAIT 1004
#define IDC_SCREEN_WAIT 1005
#define IDC_GO_ON 1006
#define IDC_MOUSE_FOLLOW 1007
#define IDC_MOUSE_PLACE 1008
#define IDC_MOUSE_MOTION 1009
// The range beside each number field: its id + 10.
#define IDC_REPEAT_RANGE 1011
#define IDC_PAUSE_RANGE 1012
#define IDC_WINDOW_WAIT_RANGE 1014

#define IDI_MAIN 107
#define IDI_BLANK 135
#define IDI_FRAME_RAISED 138
#define IDI_FRAME_RIGHT 139
#define IDI_FRAME_MIDDLE 140
#define IDI_FRAME_LEFT 141

// ---- Menu and accelerator commands (WM_COMMAND ids) --------------------------------------------
#define IDM_EXIT 105
#define IDM_RECORD 32771
#define IDM_PLAY 32772
#define IDM_SAVE 32773
#define IDM_LOAD 32774
#define IDM_SOUND 32775
#define IDM_STOP 32778
#define IDM_FASTER 32780
#define IDM_SLOWER 32781
#define IDM_NORMALSPEED 32782
#define IDM_EMPTY 32783
#define IDM_CONFIG 32784
#define IDM_HIDE 32785
