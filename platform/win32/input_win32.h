// The Win32 input layer's inner pieces, shared by its files and seen by its tests:
// journal_hooks.cpp (the native journal hooks and the platform operations that choose between
// them and the emulation), record_source.cpp (recording on low-level hooks), record_motion.cpp
// (the raw mouse motion beside them), playback_sink.cpp, playback_sink_timer.cpp and
// playback_sink_pause.cpp (the playback timeline, its timer thread and its pause), deadline.cpp
// (the waits that thread makes), inject.cpp (events turned into SendInput), inject_motion.cpp
// (relative motion and keys by scan code, as the devices send them) and hold_back.cpp (the
// user's own input kept out of a playback).
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "platform/input.h"

namespace platform {
namespace win32 {

// dwExtraInfo of every input the emulated playback injects. The emulated record source drops
// input carrying it, so a playback is never recorded into the journal it comes from; other
// injected input (test drivers, on-screen keyboards) is recorded like any other.
const uintptr_t kPlaybackInputTag = 0x51565042;

// True where the native journal hooks are tried first: Windows before Vista, never Wine.
bool NativeJournalHooksPreferred();

// True when `hook` is an installed emulated record source or playback sink.
bool IsEmulatedHook(void* hook);

// Journal records as the native playback hook hands them to the system. The upper 16 bits of
// `message` carry the wheel delta or X button in our files; the system's message is the lower 16.
void ToEventMsg(const EventRecord& record, EVENTMSG* message);

// ---- record source ----------------------------------------------------------------------------
HookHandle InstallEmulatedRecord(InstanceHandle instance, HookProcedure procedure);
void RemoveEmulatedRecord();
// Whether `hook` is the handle the record source hands out (installed or not), and whether the
// source is installed now.
bool IsRecordSourceHandle(HookHandle hook);
bool RecordSourceInstalled();

// Raw mouse input on this thread, for the whole recording, into a message-only window of its
// own: each motion goes to `procedure` as a MotionRecord (kMotionCode). False when the system
// refuses; recording goes on without counts then.
bool StartRawMotion(HINSTANCE module, HookProcedure procedure);
void StopRawMotion();
// Hands over the motions whose raw input is queued. The raw input of a motion is queued before
// the low-level hook hears of it, but as a posted message it waits behind the hook calls (sent
// messages) of the motions after it: taken from the hook, right after its event was handed
// over, every motion follows its own move.
void TakeQueuedMotion();

// ---- playback sink ----------------------------------------------------------------------------
HookHandle InstallEmulatedPlayback(HookProcedure procedure);
void RemoveEmulatedPlayback();
void PauseEmulatedPlayback(bool paused);
bool IsPlaybackSinkHandle(HookHandle hook);
bool PlaybackSinkInstalled();

// For the benchmark: called on the thread that times the injections after each event, with the
// QueryPerformanceCounter moments at which its wait ended and its injection was done. Null for
// none.
typedef void (*InjectionObserver)(LONGLONG released, LONGLONG injected);
void SetInjectionObserver(InjectionObserver observer);

// Ends an emulated playback as the system ends a journal playback: nothing more is injected,
// and WM_CANCELJOURNAL is posted, once, to the thread that installed the sink, whose owner
// removes it from there. Any thread may call it.
void CancelPlayback();
// Whether input can reach the input desktop now: not on a locked screen or a secure desktop
// (an elevation prompt), where the playback is cancelled instead of injecting into nothing.
// Tests replace the check; null restores the system's.
typedef bool (*DesktopCheck)();
void SetInputDesktopCheck(DesktopCheck check);

// The QueryPerformanceCounter ticks in `milliseconds`, which may be as long as the longest delays
// add up to, at any counter frequency (some run at the processor's, some GHz): split so that no
// product overflows.
LONGLONG TicksIn(uint64_t milliseconds, LONGLONG frequency);
// A waitable timer for WaitForDeadline; *raisedResolution tells that the system's timer
// resolution was raised for it (timeEndPeriod(1) undoes it). Null when none can be made.
HANDLE CreateDeadlineTimer(bool* raisedResolution);
// Waits for the QueryPerformanceCounter moment `deadline`: on `timer` (a waitable timer) for the
// most part, spinning through the last `spinTicks`. Returns false as soon as `stopping` is set
// (with `stop` signalled), true at the deadline. A timer that cannot be set falls back to timed
// waits on `stop`, so a wait always ends when the playback is removed.
bool WaitForDeadline(LONGLONG deadline, HANDLE timer, HANDLE stop,
                     const std::atomic<bool>& stopping, LONGLONG frequency, LONGLONG spinTicks);

// ---- injection --------------------------------------------------------------------------------
// What a playback holds down, released when it stops. Keys are indexed by the key of their side
// (VK_LSHIFT, VK_RSHIFT, ...): records carry the generic modifier, and the left and right keys
// go down and up apart.
struct HeldInput {
    bool keyHeld[256];
    uint8_t keyVirtual[256];  // as the record gave it
    uint8_t keyScan[256];
    bool keyExtended[256];
    bool keyLifted[256];  // let go of by a pause and not pressed again: its release is not sent
    uint32_t buttons;
    int32_t lastX;
    int32_t lastY;
    bool relative;  // the last mouse input was a relative move
};
// Injects one event; records that the system does not carry (message 0, WM_QUIT, ...) inject
// nothing. False when the system refused the input.
bool Inject(HeldInput& held, const EventRecord& event);
void ReleaseHeld(const HeldInput& held);
// Lets go of the keys held down (`up`), for a pause, or presses again those that must stay held
// (the modifiers); a letter let go of is not pressed again, and its release is not sent. Buttons
// stay as they are.
void LiftHeldKeys(HeldInput& held, bool up);
// True for the release of a key a pause let go of already and that was not pressed since: it is
// not sent, or the key would be typed twice. Forgets the mark either way.
bool LiftedAlready(HeldInput& held, uint8_t vk, uint8_t scan, bool extended, bool up);
// Notes a key that went down or up in what the playback holds.
void NoteHeldKey(HeldInput& held, uint8_t vk, uint8_t scan, bool extended, bool up);

// A relative move as the device sent it: what raw input reports equals (dx, dy), for programs
// that turn with the mouse; the pointer moves as the system's acceleration takes it. False when
// the system refused the input.
bool InjectMotion(int32_t dx, int32_t dy);
// A key record (WM_KEYDOWN ... WM_SYSKEYUP) injected by its scan code and extended bit, as the
// keyboard sends it, for programs that read scan codes; noted in `held` as Inject notes it. A
// record without a scan code goes as Inject sends it; other records inject nothing.
bool InjectScanKey(HeldInput& held, const EventRecord& event);
// How many steps a relative move goes out as, so that the pointer acceleration of `mouse` (as
// SPI_GETMOUSE gives it: first threshold, second threshold, acceleration) changes none of them,
// and each step's share of a total on one axis; the shares add up to the total exactly.
uint32_t MotionSteps(int32_t dx, int32_t dy, const int mouse[3]);
int32_t MotionStepShare(int32_t total, uint32_t steps, uint32_t index);

// Lets go of the modifiers the user holds (those of the hotkey that started a playback), so that
// the first replayed keys are not taken with them; the user's own releases later change nothing.
void LetGoOfUserModifiers();

// ---- the user's own input during a playback ---------------------------------------------------
// While held back, keyboard and mouse input that is not the playback's own never reaches a
// window, but for the program's hotkeys (posted to their window here), the release of keys and
// buttons whose press it did not drop, and anything while a popup menu is open. Ctrl+Esc
// cancels the playback (CancelPlayback), as it cancels the system's.
// Returns false when it could not be set up; playback then goes on without it.
bool HoldBackUserInput();
void ReleaseUserInput();

// ---- what the window service tells the input layer -----------------------------------------
// The hotkey registered for this key and exact set of MOD_* modifiers; false when none.
bool FindHotkey(uint32_t modifiers, uint32_t virtualKey, HWND* window, int* id);
// While one of these lives, the program's own menu or dialog is open: a playback lets the user's
// input through meanwhile, so that the user can work it.
struct OwnWindowOpen {
    OwnWindowOpen();
    ~OwnWindowOpen();
    OwnWindowOpen(const OwnWindowOpen&) = delete;
    OwnWindowOpen& operator=(const OwnWindowOpen&) = delete;
};
bool OwnWindowIsOpen();

}  // namespace win32
}  // namespace platform
