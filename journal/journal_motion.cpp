// A recording's relative motion: each move keeps the counts raw input had for it, and whether the
// moment was one of a program that takes the mouse for itself (a game looking around: the cursor
// hidden or confined, or put back after every motion). Such stretches replay by motion, as the
// device sent it, and their keys by scan code; the rest by place, as always.
#include "journal/hotkey_filter.h"
#include "journal/journal_recorder.h"
#include "journal/journal_sections.h"
#include "platform/window.h"

namespace {

// Motions in a row that start where the one before did before a program counts as putting the
// cursor back, and how near counts as there.
const uint32_t kPutBackTimes = 3;
const int32_t kPutBackNear = 2;
// WM_QUIT, which no input queue carries: injected as nothing.
const uint32_t kNothing = 0x0012;

bool IsMove(const platform::EventRecord& record) {
    return (record.message & 0xFFFF) == WM_MOUSEMOVE;
}

int32_t Distance(int32_t a, int32_t b) {
    return a > b ? a - b : b - a;
}

}  // namespace

void JournalRecorder::TakeMotion(const platform::MotionRecord& motion) {
    if (!tail || !IsMove(tail->record)) {
        motionPending.dx += motion.dx;
        motionPending.dy += motion.dy;
        motionPending.flags |= motion.flags;
        return;
    }
    journal::EventNote noted = tail->note ? notes.notes[tail->note - 1] : journal::EventNote();
    bool own = noted.motion != 0;  // a note with motion is its move's alone
    noted.dx += motion.dx + motionPending.dx;
    noted.dy += motion.dy + motionPending.dy;
    uint32_t flags = (noted.motion | motion.flags | motionPending.flags) &
                     (journal::kMotionHidden | journal::kMotionConfined);
    motionPending = {};
    // Where the cursor was before this motion: a program that puts it back after every one has it
    // start at the same place again and again, wherever the motion takes it.
    int32_t fromX = static_cast<int32_t>(tail->record.paramL) - motion.dx;
    int32_t fromY = static_cast<int32_t>(tail->record.paramH) - motion.dy;
    bool again = (motion.dx || motion.dy) && Distance(fromX, lookBack.x) <= kPutBackNear &&
                 Distance(fromY, lookBack.y) <= kPutBackNear;
    lookBack = {fromX, fromY, again ? lookBack.times + 1 : 0};
    if (flags || lookBack.times >= kPutBackTimes)
        flags |= journal::kMotionPlayed;
    noted.motion = flags | journal::kMotionNoted;
    if (own)
        notes.notes[tail->note - 1] = noted;
    else if (uint32_t note = journal::AddNote(&notes, noted))
        tail->note = note;
}

void JournalRecorder::MotionFollows(const platform::EventRecord& record) {
    // A motion that came with a button goes with the move after it.
    if (IsMove(record) && (motionPending.dx || motionPending.dy || motionPending.flags))
        TakeMotion({0, 0, 0});
}

bool JournalRecorder::ByMotion(const JournalEvent& event, platform::EventRecord* target) {
    if (!IsMove(event.record))
        return false;
    const journal::EventNote* note = event.note ? &notes.notes[event.note - 1] : nullptr;
    bool counted = note && note->motion;
    bool motion =
        counted && (playMouse == MouseMode::Motion ||
                    (playMouse == MouseMode::Recording && (note->motion & journal::kMotionPlayed)));
    if (!counted && inMotion && playMouse != MouseMode::Place) {
        // A move of the pointer alone within motion (a program putting the cursor back): played
        // at its point it would turn the view, so it goes as nothing, its time waited.
        *target = event.record;
        target->message = kNothing;
        return true;
    }
    if (counted || playMouse != MouseMode::Motion)
        inMotion = motion;
    if (!motion)
        return false;
    // Never placed in a window, nor played at its point as well.
    *target = event.record;
    target->message = WM_MOUSEMOVE | platform::kAsTheDeviceSent;
    target->paramL = static_cast<uint32_t>(note->dx);
    target->paramH = static_cast<uint32_t>(note->dy);
    return true;
}

void JournalRecorder::AsTheDeviceSent(platform::EventRecord* target) const {
    uint32_t kind = target->message & 0xFFFF;
    bool key = kind >= WM_KEYDOWN && kind <= WM_SYSKEYUP;
    // Whatever a file holds above a key's or a move's message, it goes as the layer takes it.
    if (key || kind == WM_MOUSEMOVE)
        target->message = kind;
    if (key && (inMotion || playMouse == MouseMode::Motion))
        target->message |= platform::kAsTheDeviceSent;
}
