// How a replay finds the windows of its recording again: a click goes to the same point of its
// window wherever that window is now, and a key waits until its window has the keyboard.
#pragma once

#include <cstdint>

#include "journal/event_notes.h"
#include "journal/window_table.h"
#include "platform/input.h"

namespace journal {

const uint32_t kDefaultLongestWaitMs = 10000;
// How often a window that is not there yet is looked for, and the screen a press waits for.
const uint32_t kLookAgainMs = 100;
const uint32_t kScreenLookMs = 200;

// What became of one recorded window in this replay.
struct LiveWindow {
    platform::WindowHandle handle;  // null while not found
    uint32_t dpi;
    bool givenUp;  // never came within the wait: its events play at their recorded places
};

class WindowFollower {
  public:
    WindowFollower();
    ~WindowFollower();
    // Follows the windows of `table`, at the places `notes` tell, from the first event on;
    // without memory, follows none. Events name their notes (0 for none).
    void Start(const WindowTable& table, const EventNotes& notes);
    void Finish();
    // A repeat begins another pass: every window is looked for again (the ones found are kept
    // while they are there), and no drag is under way.
    void NewPass();
    // Whether where `recorded` goes depends on the screen at its moment: an event of a window
    // being followed, but for the moves and the release of a drag, which keep its shift.
    bool Follows(const platform::EventRecord& recorded, uint32_t note) const;
    // Writes where `recorded`, an event of note `note`, goes now;
    // never a wait, whatever the record holds.
    // False when that window is not there (a key: not in the foreground) yet; `placed` then
    // holds the recorded event.
    bool Place(const platform::EventRecord& recorded, uint32_t note, platform::EventRecord* placed);
    // The event handed out last was processed: a button it pressed is held from now on, so
    // asking Place again for an event before this changes nothing of the drag.
    void Passed(const platform::EventRecord& event);
    // Where the window of the note is now, as the replay found it; false when it follows none.
    bool LiveBounds(uint32_t note, platform::WindowRect* rect);
    // Moves the press just placed, and the drag that follows it, by (dx, dy): to where the screen
    // shows what it pressed.
    void Nudge(int32_t dx, int32_t dy);
    // The window of the note did not come: its events go where they were recorded from now on.
    void GiveUp(uint32_t note);

  private:
    // The live window of the table's `window`, and where it is now; null when there is none.
    LiveWindow* Find(uint32_t window, platform::WindowRect* rect);
    bool HasKeyboard(uint32_t window);

    // The table's entry of a note's window, from 1; 0 for none.
    uint32_t WindowOf(uint32_t note) const;

    const platform::WindowInfo* recorded;
    const EventNote* places;
    uint32_t placeCount;
    LiveWindow* live;
    uint32_t count;
    // While a button is held the pointer moves by the recorded distances from where it was
    // pressed, so a drag that moves its own window does not chase it.
    uint32_t buttonsHeld;
    int32_t shiftX;
    int32_t shiftY;
};

}  // namespace journal
