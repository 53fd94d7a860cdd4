// Recording: the record hook takes each event with its window, its picture and its motion; the
// keys of a hotkey the program took, and a stop chosen in the menu, are cut from the list; the
// time limit ends a recording a second after it passed at most.
#include <bitset>

#include "journal/hotkey_filter.h"
#include "journal/journal_codec.h"
#include "journal/journal_recorder.h"
#include "platform/window.h"

bool JournalRecorder::StartRecording(Commander by) {
    if (IsRecording() || IsPlaying())
        return false;
    // Also forgets the windows of a loaded file without events.
    ReleaseEvents();
    platform::HookHandle hook = platform::InstallRecordHook(instance, RecordHookProc);
    if (!hook)
        return false;
    recordHook = hook;
    recordStart = platform::InputClock();
    endKnown = false;
    dropKeys.reset();
    menuMarked = false;
    if (by.chord) {
        // Only the keys still held now: one let go of before the hook went in is pressed next
        // by the user, for the recording.
        dropKeys[by.chord->key] = platform::KeyIsDown(by.chord->key);
        for (uint32_t key = 0x10; key <= 0x12; key++)
            dropKeys[key] = journal::InChord(*by.chord, key) && platform::KeyIsDown(key);
    }
    recordingActive = true;
    SwitchScreenSaver(true);
    platform::SendToWindow(mainWindow, WM_JOURNALSTATE, JOURNAL_RECORDING, 0);
    return true;
}

void JournalRecorder::MenuOpened(const platform::HotkeyChord* chord) {
    if (!IsRecording())
        return;
    menuMarked = true;
    menuMark = tail;
    menuChord = chord;
}

bool JournalRecorder::Keeps(const platform::EventRecord& record) {
    bool down = journal::IsKeyDown(record);
    if (!down && !journal::IsKeyUp(record))
        return true;
    uint32_t key = journal::KeyOf(record);
    if (!dropKeys[key])
        return true;
    // Held since a hotkey the program took: its repeats and its release.
    if (!down)
        dropKeys.reset(key);
    return false;
}

void JournalRecorder::HotkeyTaken(const platform::HotkeyChord& chord) {
    if (!IsRecording())
        return;
    // Its key's press may come after the hotkey's message: then it goes as it arrives.
    dropKeys |= CutChord(chord);
    dropKeys.set(chord.key);
}

template <class Pick>
void JournalRecorder::Unlink(JournalEvent* from, Pick drop) {
    JournalEvent** link = from ? &from->next : &head;
    JournalEvent* last = from;
    while (JournalEvent* event = *link) {
        if (drop(*event)) {
            *link = event->next;
            count--;
        } else {
            last = event;
            link = &event->next;
        }
    }
    tail = last;
    cursor = nullptr;
}

// The hotkey's keys went down and were not let go of: those presses, with their repeats, go
// wherever they fall among the user's last keys (a letter may be let go of after the chord
// began), but for a modifier that went down before the user's last key press, which it shaped
// (Shift still held from a capital). The user's own uses of the same keys, released, and the
// mouse stay. Returns the keys cut.
std::bitset<256> JournalRecorder::CutChord(const platform::HotkeyChord& chord) {
    const JournalEvent* lastUp[256] = {};
    const JournalEvent* lastOwn = nullptr;  // the last press of a key outside the chord
    for (const JournalEvent* event = head; event; event = event->next) {
        uint32_t key = journal::KeyOf(event->record);
        if (journal::IsKeyUp(event->record))
            lastUp[key] = event;
        else if (journal::IsKeyDown(event->record) && !journal::InChord(chord, key))
            lastOwn = event;
    }
    std::bitset<256> released;  // passed the key's last release
    for (uint32_t key = 0; key < 256; key++)
        released[key] = !lastUp[key];
    bool pastOwn = !lastOwn;
    std::bitset<256> cut;
    Unlink(nullptr, [&](const JournalEvent& event) {
        uint32_t key = journal::KeyOf(event.record);
        if (&event == lastUp[key])
            released.set(key);
        if (&event == lastOwn)
            pastOwn = true;
        bool drop = pastOwn && journal::IsKeyDown(event.record) && released[key] &&
                    journal::InChord(chord, key);
        if (drop)
            cut.set(key);
        return drop;
    });
    return cut;
}

// Everything done in the menu goes, and so does what opened it: its hotkey, or the click on the
// icon (the last button pressed and released before it opened).
void JournalRecorder::CutMenuChoice() {
    Unlink(menuMark, [](const JournalEvent&) { return true; });
    if (menuChord) {
        CutChord(*menuChord);
        return;
    }
    JournalEvent* beforeDown = nullptr;
    const JournalEvent* down = nullptr;
    for (JournalEvent *event = head, *previous = nullptr; event;
         previous = event, event = event->next) {
        if (journal::IsButtonDown(event->record)) {
            beforeDown = previous;
            down = event;
        }
    }
    if (!down)
        return;
    bool released = false;
    Unlink(beforeDown, [&](const JournalEvent& event) {
        if (&event == down)
            return true;
        if (released || !journal::IsButtonUp(event.record))
            return false;
        return released = true;
    });
}

void JournalRecorder::CheckTimeLimit() {
    // Measured from the start, by the clock: an idle user never stretches the events' span.
    if (!IsRecording() || journal::PlayedGap(recordStart, platform::InputClock()) <= timeLimit)
        return;
    // The tick comes up to a second late: what came after the limit is not kept.
    Unlink(nullptr, [&](const JournalEvent& event) {
        return journal::PlayedGap(recordStart, event.record.time) > timeLimit;
    });
    Stop();
}

intptr_t JournalRecorder::RecordHookProc(int code, uintptr_t wParam, intptr_t lParam) {
    JournalRecorder* self = journalRecorderInstance;
    if (code < 0)
        return platform::CallNextHook(self->recordHook, code, wParam, lParam);
    switch (code) {
        case HC_ACTION:
            if (self->recordingActive) {
                const platform::EventRecord& record =
                    *reinterpret_cast<const platform::EventRecord*>(lParam);
                if (self->Keeps(record) &&
                    self->AppendEvent(record, self->WithPicture(record, self->NoteOf(record))))
                    self->MotionFollows(record);
            }
            break;
        case platform::kMotionCode:
            if (self->recordingActive)
                self->TakeMotion(*reinterpret_cast<const platform::MotionRecord*>(lParam));
            break;
        case HC_SYSMODALON:
            self->recordingActive = false;
            break;
        case HC_SYSMODALOFF:
            self->recordingActive = true;
            break;
        default:
            break;
    }
    return 0;
}
