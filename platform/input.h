// The input layer: a system-wide record source and playback sink with the journal-hook
// contract. On Win32 it is either the native journal hooks or an emulation on low-level hooks
// and SendInput; the system code cannot tell which.
//
// Record source: the procedure is called with HC_ACTION and lParam pointing to an EventRecord
// for every keyboard and mouse event, and with HC_SYSMODALON/HC_SYSMODALOFF around
// system-modal dialogs. The emulated source also hands over each mouse motion as the device
// counted it (see MotionRecord).
// Playback sink: the procedure is asked with HC_GETNEXT to write the next event into the
// EventRecord at lParam and returns the milliseconds to wait before it is processed; after the
// event was processed it is told HC_SKIP. A procedure that must wait for something before its
// next event (a window that is not there yet) writes an event whose message is kWaitEvent instead
// and returns how long to wait: nothing is processed for it, no HC_SKIP follows, and it is asked
// again once that time has passed and every event before it was processed (a few milliseconds
// before, so that what it answers then goes out on time): a procedure places an event at its
// moment by waiting for it. Both are called on the thread that installed them, from its message
// loop, and removed on that thread.
#pragma once

#include <cstdint>

#include "platform/types.h"

#ifndef HC_ACTION
#define HC_ACTION 0
#define HC_GETNEXT 1
#define HC_SKIP 2
#define HC_NOREMOVE 3
#define HC_SYSMODALON 4
#define HC_SYSMODALOFF 5
#endif

namespace platform {

// One input event: the five fields of a journal record, each 32 bits.
//
// Keyboard (WM_KEYDOWN, WM_KEYUP, WM_SYSKEYDOWN, WM_SYSKEYUP): paramL holds the virtual key in
// bits 0-7 and the scan code in bits 8-15; paramH holds the repeat count in bits 0-14 and the
// extended-key flag in bit 15. Mouse: paramL and paramH are the screen coordinates (signed).
// Wheel (WM_MOUSEWHEEL, WM_MOUSEHWHEEL): as a mouse event, with the signed wheel delta in the
// upper 16 bits of `message`; a record whose upper bits are 0 turns no wheel. X buttons
// (WM_XBUTTONDOWN, WM_XBUTTONUP): which button (1 or 2) in the upper 16 bits of `message`,
// 0 counting as the first. Native journal records never set those bits, so both kinds of file
// read the same way.
struct EventRecord {
    uint32_t message;
    uint32_t paramL;
    uint32_t paramH;
    uint32_t time;  // milliseconds, the system's tick count
    uint32_t hwnd;  // the window the event was meant for
};

// The message of an event that is a wait (WM_NULL, which no input event has).
const uint32_t kWaitEvent = 0;
// In the upper bits of a playback's WM_MOUSEMOVE or key message: the input goes as the device sent
// it, for programs that read raw input. A move is then relative, paramL and paramH its signed
// counts (never an absolute point); a key goes by its scan code and extended bit. Files never
// hold it: a playback procedure sets it on what it hands out.
const uint32_t kAsTheDeviceSent = 0x10000;

// A mouse motion as the device counted it, before any pointer acceleration and whether or not
// the pointer could follow (it stops at a screen edge or a confinement; a program that turns a
// view with the mouse puts it back where it was after every motion). The emulated record source
// calls the procedure with kMotionCode and lParam pointing to one, right after the HC_ACTION of
// the mouse event the motion came with; a motion without counts (a tablet's or a remote
// session's positions) and our own playback's are not handed over.
struct MotionRecord {
    int32_t dx;
    int32_t dy;
    uint32_t flags;  // kMotion... of the moment it came
};

// Not a code of the system's hooks; a procedure that knows nothing of it ignores it.
const int kMotionCode = 0x4D4F;
// The foreground program hides the cursor, or has it confined to less than the whole screen:
// together, the program takes the mouse's motion for itself.
const uint32_t kMotionCursorHidden = 1;
const uint32_t kMotionCursorConfined = 2;

typedef intptr_t (*HookProcedure)(int code, uintptr_t wParam, intptr_t lParam);

// Both return null when the system refuses. At most one of each is installed at a time.
HookHandle InstallRecordHook(InstanceHandle instance, HookProcedure procedure);
HookHandle InstallPlaybackHook(InstanceHandle instance, HookProcedure procedure);
void RemoveHook(HookHandle hook);
// While paused, an installed playback injects nothing and asks the procedure for nothing; resumed,
// it goes on where it was, everything after it later by the pause, into the window that had the
// foreground when it was paused (the program's own menu takes it meanwhile). The keys it holds
// down are let go of during the pause, so that they change none of the user's, and pressed
// again. Native journal playback does not pause.
void PausePlayback(HookHandle hook, bool paused);
intptr_t CallNextHook(HookHandle hook, int code, uintptr_t wParam, intptr_t lParam);
// Whether the key is held down now, as the keyboard has it (not as a window's queue does).
bool KeyIsDown(uint32_t virtualKey);
// The system's tick count in milliseconds: the clock of every event's time.
uint32_t InputClock();

}  // namespace platform
