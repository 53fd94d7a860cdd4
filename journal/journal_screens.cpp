// A replayed press and the screen: before a press recorded with a picture of what was under the
// pointer, the replay looks whether the screen shows the same there now, finds it where it moved
// in its window, or waits for it. The looks run in the playback procedure, on the thread that
// asks for events, never on the one that injects them; one costs a blit of the square and, where
// the picture is not at the point, a blit of the window and a search of it.
#include "journal/hotkey_filter.h"
#include "journal/journal_recorder.h"
#include "platform/window.h"

bool JournalRecorder::ChecksScreen(const JournalEvent& event) const {
    if (!playScreens || !event.note || !journal::IsButtonDown(event.record))
        return false;
    const journal::EventNote& note = notes.notes[event.note - 1];
    return note.picture && !journal::PictureOf(pictures, note.picture).plain &&
           note.window <= windows.count && !screenGivenUp[note.window];
}

journal::PictureCheck JournalRecorder::LookAtScreen(const platform::EventRecord& placed, int32_t* x,
                                                    int32_t* y) {
    const journal::EventNote& note = notes.notes[cursor->note - 1];
    int32_t atX = static_cast<int32_t>(placed.paramL);
    int32_t atY = static_cast<int32_t>(placed.paramH);
    // The press's window as the replay found it, or, where it follows none, the window at the
    // point now; none over the desktop, where the point alone is looked at.
    platform::WindowRect window = {};
    if (!follower.LiveBounds(cursor->note, &window)) {
        platform::WindowHandle there = platform::RootWindowAt(atX, atY);
        if (!there || !platform::WindowBounds(there, &window))
            window = {};
    }
    int32_t foundX, foundY;
    journal::PictureCheck check = journal::LocatePicture(journal::PictureOf(pictures, note.picture),
                                                         atX, atY, window, &foundX, &foundY);
    if (x && check == journal::PictureCheck::kMoved) {
        *x = foundX;
        *y = foundY;
    }
    return check;
}

bool JournalRecorder::PressWhereTheScreenShows(platform::EventRecord* placed) {
    int32_t x = static_cast<int32_t>(placed->paramL);
    int32_t y = static_cast<int32_t>(placed->paramH);
    int32_t movedX = x, movedY = y;
    journal::PictureCheck check = LookAtScreen(*placed, &movedX, &movedY);
    if (check == journal::PictureCheck::kMissing)
        return false;
    // A drag from it moves by the recorded distances from where it was found.
    follower.Nudge(movedX - x, movedY - y);
    placed->paramL = static_cast<uint32_t>(movedX);
    placed->paramH = static_cast<uint32_t>(movedY);
    return true;
}

void JournalRecorder::ScreenNeverCame(const JournalEvent& event) {
    // Its window's later presses go where they are placed, without waiting: a recording whose
    // screen never matches costs one longest wait a window, not one a press.
    screenGivenUp[notes.notes[event.note - 1].window] = true;
}
