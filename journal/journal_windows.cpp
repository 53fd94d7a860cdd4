// The window each recorded event belongs to. The record hook runs inside the system's input
// processing, and a slow low-level hook is dropped by the system: each event costs a lookup of
// the window's handle and rectangle, and only a window not seen just before, or one that moved,
// is described in full. A window keeps its one entry in the table however often it moves; each
// place it stood at gets a note of its own, which the events there share.
#include "journal/hotkey_filter.h"
#include "journal/journal_recorder.h"
#include "platform/window.h"

uint32_t JournalRecorder::NoteOf(const platform::EventRecord& record) {
    uint32_t kind = record.message & 0xFFFF;
    SeenWindow* seen;
    platform::WindowHandle handle;
    if (kind >= WM_KEYDOWN && kind <= WM_SYSKEYUP) {
        seen = &keyWindow;
        handle = platform::ForegroundWindow();
    } else if (kind >= WM_MOUSEMOVE && kind <= WM_MOUSEHWHEEL) {
        seen = &pointerWindow;
        handle = platform::RootWindowAt(static_cast<int32_t>(record.paramL),
                                        static_cast<int32_t>(record.paramH));
    } else {
        return 0;
    }
    if (!handle)
        return 0;
    // A title that changes while the window stays put is not noticed; the program and class
    // still tell the window.
    platform::WindowRect rect;
    if (handle == seen->handle && platform::WindowBounds(handle, &rect) &&
        rect.left == seen->rect.left && rect.top == seen->rect.top &&
        rect.right == seen->rect.right && rect.bottom == seen->rect.bottom)
        return seen->note;
    platform::WindowInfo info;
    if (!platform::DescribeWindow(handle, &info))
        return 0;
    uint32_t window = journal::AddWindow(&windows, info);
    uint32_t note = window ? journal::AddNote(&notes, {window, info.rect, info.dpi}) : 0;
    *seen = SeenWindow{handle, info.rect, note};
    return note;
}

uint32_t JournalRecorder::WithPicture(const platform::EventRecord& press, uint32_t note) {
    if (!journal::IsButtonDown(press))
        return note;
    journal::ScreenPicture* picture = journal::NextPicture(&pictures);
    if (!picture)
        return note;
    // In the hook, before the press reaches its window: the screen as the user saw it.
    journal::TakePicture(static_cast<int32_t>(press.paramL), static_cast<int32_t>(press.paramH),
                         picture);
    journal::EventNote pictured = note ? notes.notes[note - 1] : journal::EventNote();
    pictured.picture = journal::KeepPicture(&pictures);
    uint32_t own = journal::AddNote(&notes, pictured);
    return own ? own : note;
}
