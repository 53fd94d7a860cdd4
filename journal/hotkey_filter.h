// The program's own hotkeys inside a stream of key events: which presses make one of them, so
// that a replay never presses one, and the key helpers that the recorder and the journal tool
// share to tell the user's keys from those that commanded the program.
#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>

#include "platform/input.h"
#include "platform/program_ids.h"
#include "platform/window.h"

namespace journal {

// The program's hotkeys: registered at start-up (the menu's in both modes, the others in tray
// mode), never pressed by a replay, and found by the journal tool at a recording's ends.
inline constexpr uint32_t kHotkeyModifiers = MOD_ALT | MOD_CONTROL | MOD_SHIFT;
inline constexpr platform::HotkeyChord kHotkeys[] = {
    {HOTKEY_RECORD, kHotkeyModifiers, 'R'},     {HOTKEY_PLAY, kHotkeyModifiers, 'P'},
    {HOTKEY_STOP, kHotkeyModifiers, 'S'},       {HOTKEY_HIDE, kHotkeyModifiers, 'H'},
    {HOTKEY_MENU, kHotkeyModifiers, VK_DELETE},
};

bool IsKeyDown(const platform::EventRecord& event);
bool IsKeyUp(const platform::EventRecord& event);
// The virtual key of a key event; the left and right modifier keys count as the generic one.
uint32_t KeyOf(const platform::EventRecord& event);
// MOD_CONTROL, MOD_ALT or MOD_SHIFT for a modifier key, 0 for any other.
uint32_t ModifierOf(uint32_t key);
bool IsButtonDown(const platform::EventRecord& event);
bool IsButtonUp(const platform::EventRecord& event);
// True when `key` is the chord's key or one of the modifiers it holds.
bool InChord(const platform::HotkeyChord& chord, uint32_t key);

// Follows the modifiers that a stream of events holds and picks out the presses that make one
// of `chords`, with their repeats and the release that ends them.
class HotkeyFilter {
  public:
    HotkeyFilter(const platform::HotkeyChord* table, size_t size) : chords(table), count(size) {}
    void Reset();
    // Takes the next event of the stream: true when it belongs to a hotkey press.
    bool Take(const platform::EventRecord& event);
    // The chord of the last press that Take picked out.
    const platform::HotkeyChord* LastChord() const { return last; }

  private:
    const platform::HotkeyChord* chords;
    size_t count;
    uint32_t held = 0;         // MOD_* bits
    std::bitset<256> pressed;  // keys whose press made a chord and that are still down
    const platform::HotkeyChord* last = nullptr;
};

// The keys a stream of replayed events holds down, so that what one pass of a repeat left held
// (a file that ends with a modifier down) is let go of before the next pass begins afresh.
class HeldKeys {
  public:
    void Reset() { down.reset(); }
    // Takes the next event played.
    void Take(const platform::EventRecord& event);
    // Writes the release of a key still held and forgets the key; false when none is held.
    bool NextRelease(platform::EventRecord* release);

  private:
    // By the key and, for Shift, Ctrl and Alt, their side: the left and right keys go down and
    // up apart.
    static const size_t kSlots = 512;
    std::bitset<kSlots> down;
    uint32_t pressed[kSlots];  // paramL of the press: the key and its scan code
    bool extended[kSlots];
};

}  // namespace journal
