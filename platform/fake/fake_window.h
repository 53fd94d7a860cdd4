// Test controls of the fake window, process and input services. Every platform call is written
// to one call log, so tests can pin the order of what the system did.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "platform/input.h"
#include "platform/types.h"
#include "platform/window.h"
#include "platform/window.h"

namespace fake {

// Forgets every window, timer, hotkey, menu, hook and logged call; restores the defaults.
void ResetWindows();

// One platform call: its name, its numbers in the order the call takes them, and a text it was
// given (a class name, a command line; "own" or "other" for the hook CallNextHook passes on).
struct Call {
    std::string name;
    std::vector<int64_t> args = {};
    std::string text = {};
    bool operator==(const Call& other) const {
        return name == other.name && args == other.args && text == other.text;
    }
};
void PrintTo(const Call& call, std::ostream* out);  // how test failures show a call

// The calls made so far, in order.
std::vector<Call>& CallLog();
void ClearCallLog();
std::vector<Call> CallsOf(const std::string& name);

// Messages posted to the fake loop; RunMessageLoop dispatches them in order until PostQuit,
// and returns -1 when they run out without a quit. A null window posts to the thread.
void PostToLoop(platform::WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);
// Called by RunMessageLoop when the posted messages run out and no quit came, as the place
// where the system would deliver input to the hooks; the loop goes on while it posts more.
void SetLoopIdle(void (*idle)());
// Dispatches to the window's procedure as the loop would (the accelerator is not consulted).
intptr_t Dispatch(platform::WindowHandle window, uint32_t message, uintptr_t wParam,
                  intptr_t lParam);
int QuitPosted();  // 1 once PostQuit was called
int QuitCode();
int WindowExists(platform::WindowHandle window);
platform::WindowHandle LastCreatedWindow();

struct Timer {
    platform::WindowHandle window;
    uintptr_t id;
    uint32_t period;
};
const std::vector<Timer>& Timers();  // running timers
struct Hotkey {
    int id;
    uint32_t modifiers;
    uint32_t key;
};
const std::vector<Hotkey>& Hotkeys();

// Menu item state of the popup that DetachPopupMenu returned (-1 when never set).
int MenuChecked(uint32_t command);
int MenuEnabled(uint32_t command);
int PopupShownCount();
// Called inside TrackPopupMenuAtCursor, as the time the menu is open; null for nothing.
void SetWhileMenuOpen(void (*action)());
// The command the next menu returns, as the user's choice (0, the default: none).
void SetMenuChoice(uint32_t command);
// What the user does in the Configuration dialog: changes the settings it shows and returns
// true for OK, false for Cancel. Without one, the dialog is cancelled.
void SetDialogAnswer(std::function<bool(platform::PlaySettings*)> answer);

// Process services.
void SetLaunchResult(uint32_t result);  // default 33 (started)
const std::vector<std::string>& Launched();
void SetMutexError(uint32_t error);  // default 0 (created)
void SetWindowCreationFails(int fails);

// Input layer.
void SetHookInstallFails(int fails);
void SetKeyDown(uint32_t virtualKey, bool down);  // what KeyIsDown answers (all up at first)
int RecordHookInstalled();
int PlaybackHookInstalled();
int PlaybackPaused();  // 1 while the installed playback is paused
platform::HookHandle InstalledHook();
// What InputClock answers; RecordEvent moves it on to each event's time.
void SetInputClock(uint32_t milliseconds);
// Feeds the installed record hook; returns its result.
intptr_t RecordEvent(const platform::EventRecord& record);
intptr_t CallRecordHook(int code, intptr_t lParam = 0);
// Calls the installed playback hook.
intptr_t CallPlaybackHook(int code, platform::EventRecord* record = nullptr);
void SetNextHookResult(intptr_t result);  // what CallNextHook answers
// Runs `action` inside the next removal of the installed hook, as the real removal dispatches
// messages sent meanwhile while it waits for the layer's own thread.
void WhileNextHookIsRemoved(std::function<void()> action);

// Drives the playback hook as the system does (GETNEXT, GETNEXT again after a delay, SKIP)
// until the hook is removed or `limit` events were played. Returns the events processed with
// the delay the first GETNEXT gave for each.
struct Played {
    platform::EventRecord record;
    uint32_t delay;
};
std::vector<Played> PlayAll(size_t limit = 1000000);

}  // namespace fake
