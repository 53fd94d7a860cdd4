// What a recording noted beside its events: the window each belongs to and where that window
// stood, the picture of the screen around a press, a move's relative counts. Events name their
// note by number; events that have nothing of their own to note (keys and moves in a window that
// stays put) share one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#include "journal/screen_picture.h"
#include "platform/window_lookup.h"

namespace journal {

struct EventNote {
    uint32_t window = 0;  // its entry in the window table, from 1; 0 for none
    platform::WindowRect rect = {};
    uint32_t dpi = 0;
    uint32_t picture = 0;  // in the recording's pictures, from 1; 0 for none
    int32_t dx = 0;        // a move's relative counts, with its kMotion... flags and kMotionNoted
    int32_t dy = 0;        // (0: no motion noted)
    uint32_t motion = 0;
};

// Beside a note's motion flags: the move has counts, whatever its flags.
const uint32_t kMotionNoted = 0x80000000u;

struct EventNotes {
    EventNote* notes;
    uint32_t count;
    uint32_t capacity;
};

// The number of a new note, from 1; 0 when no memory can be had.
uint32_t AddNote(EventNotes* notes, const EventNote& note);
void ReleaseNotes(EventNotes* notes);

// The pictures of a recording's presses, kept in blocks that are never moved: one is added
// inside the mouse hook, where copying what was taken before would cost too long.
struct PictureStore {
    ScreenPicture** blocks;
    uint32_t blockCount;
    uint32_t count;
};
const uint32_t kPicturesPerBlock = 64;
// Room for one more picture, to be filled and then counted by KeepPicture; null when no
// memory can be had.
ScreenPicture* NextPicture(PictureStore* store);
uint32_t KeepPicture(PictureStore* store);  // its number, from 1
const ScreenPicture& PictureOf(const PictureStore& store, uint32_t number);
void ReleasePictures(PictureStore* store);

// Grows an array of plain records to hold one more; false when no memory can be had.
template <class Item>
bool Grow(Item** items, uint32_t count, uint32_t* capacity, uint32_t first) {
    if (count < *capacity)
        return true;
    uint32_t larger = *capacity ? *capacity * 2 : first;
    Item* grown = new (std::nothrow) Item[larger];
    if (!grown)
        return false;
    if (count)
        memcpy(static_cast<void*>(grown), *items, count * sizeof(Item));
    delete[] * items;
    *items = grown;
    *capacity = larger;
    return true;
}

}  // namespace journal
