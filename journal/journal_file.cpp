// The journal file: Save and Load of the recorder, over the shared journal codec and header
// sections.
#include <memory>
#include <new>
#include <vector>

#include "journal/journal_codec.h"
#include "journal/journal_recorder.h"
#include "journal/journal_sections.h"
#include "storage/file_buffer.h"

namespace {

bool SamePlace(const journal::EventNote& a, const journal::EventNote& b) {
    return a.rect.left == b.rect.left && a.rect.top == b.rect.top && a.rect.right == b.rect.right &&
           a.rect.bottom == b.rect.bottom && a.dpi == b.dpi;
}

// What a save writes beside the records: the windows; an event's place wherever its window stood
// elsewhere than at the event of that window before it; the pictures of presses; the motion of
// moves. A recording with windows that never moved, and nothing else, gets the table alone, as
// files always had.
journal::HeaderSections SectionsOf(const JournalEvent* head, const journal::WindowTable& windows,
                                   const journal::EventNotes& notes,
                                   const journal::PictureStore& pictures) {
    journal::HeaderSections sections;
    sections.windows.assign(windows.entries, windows.entries + windows.count);
    std::vector<bool> seen(windows.count + 1, false);
    std::vector<journal::EventNote> stood(windows.count + 1);
    uint32_t index = 0;
    for (const JournalEvent* event = head; event; event = event->next, index++) {
        if (!event->note)
            continue;
        const journal::EventNote& note = notes.notes[event->note - 1];
        journal::EventNote& before = stood[note.window];
        if (note.window && !seen[note.window]) {
            seen[note.window] = true;
            before.rect = windows.entries[note.window - 1].rect;
            before.dpi = windows.entries[note.window - 1].dpi;
        }
        if (note.window && !SamePlace(note, before)) {
            sections.places.push_back({index, note.rect, note.dpi});
            before = note;
        }
        if (note.picture)
            sections.pictures.push_back({index, journal::PictureOf(pictures, note.picture)});
        if (note.motion)
            sections.motions.push_back(
                {index, note.dx, note.dy, note.motion & ~journal::kMotionNoted});
    }
    return sections;
}

}  // namespace

bool JournalRecorder::Save(const char* fileName) {
    failure = FileFailure();
    if (IsRecording() || IsPlaying() || !HasEvents())
        return false;
    bool named = fileName && fileName[0];
    if (!file->Open(FileMode::Saving, named ? fileName : journal::kFilter, named))
        return file->Failed(&failure);

    std::vector<uint8_t> extra =
        journal::EncodeHeaderBytes(SectionsOf(head, windows, notes, pictures));
    journal::FillHeader(signature, count, head->record.time, tail->record.time,
                        static_cast<uint32_t>(extra.size()), windows.count != 0, header.get());
    struct Writing {
        const JournalEvent* next;
        const journal::EventNotes* notes;
    } writing = {head, &notes};
    bool stored = journal::WriteJournal(
        file.get(), *header, extra.data(), static_cast<uint32_t>(extra.size()),
        [](void* context, platform::EventRecord* record, uint32_t* window) {
            Writing& w = *static_cast<Writing*>(context);
            if (!w.next)
                return false;
            *record = w.next->record;
            *window = w.next->note ? w.notes->notes[w.next->note - 1].window : 0;
            w.next = w.next->next;
            return true;
        },
        &writing);
    // A save that could not store every byte leaves any previous file as it was.
    bool closed = file->Close();
    return (stored && closed) || file->Failed(&failure);
}

namespace {

// How a file's records turn into events with notes: each record names its window; an event
// with a place of its own starts a new note of that window, which the events after it share; an
// event with a picture or motion gets a note of its own.
struct Loading {
    JournalRecorder* recorder;
    const journal::HeaderSections* sections;
    journal::WindowTable* windows;
    journal::EventNotes* notes;
    journal::PictureStore* pictures;
    std::vector<uint32_t> latest;  // by window: the note of its place now
    journal::SectionCursor cursor;
    uint32_t index = 0;
    bool noMemory = false;
    bool damaged = false;
};

// The note of the record just read, which names `window` (0 for none); false when no memory can
// be had for it.
bool NoteOfRecord(Loading& l, uint32_t window, uint32_t* number) {
    const journal::HeaderSections& s = *l.sections;
    journal::SectionCursor& at = l.cursor;  // already moved past this record
    uint32_t index = l.index - 1;
    bool placed = at.place && s.places[at.place - 1].event == index;
    const journal::EventPicture* picture = at.picture && s.pictures[at.picture - 1].event == index
                                               ? &s.pictures[at.picture - 1]
                                               : nullptr;
    const journal::EventMotion* motion =
        at.motion && s.motions[at.motion - 1].event == index ? &s.motions[at.motion - 1] : nullptr;
    journal::EventNote note;
    if (window) {
        const platform::WindowInfo& entry = l.windows->entries[window - 1];
        note = {window, entry.rect, entry.dpi};
        if (placed) {
            note.rect = s.places[at.place - 1].rect;
            note.dpi = s.places[at.place - 1].dpi;
        } else if (l.latest[window]) {
            note = l.notes->notes[l.latest[window] - 1];
        }
        if ((placed || !l.latest[window]) && !(l.latest[window] = journal::AddNote(l.notes, note)))
            return false;
    }
    *number = window ? l.latest[window] : 0;
    if (!picture && !motion)
        return true;
    if (picture) {
        journal::ScreenPicture* slot = journal::NextPicture(l.pictures);
        if (!slot)
            return false;
        *slot = picture->picture;
        note.picture = journal::KeepPicture(l.pictures);
    }
    if (motion) {
        note.dx = motion->dx;
        note.dy = motion->dy;
        note.motion = motion->flags | journal::kMotionNoted;
    }
    *number = journal::AddNote(l.notes, note);
    return *number != 0;
}

}  // namespace

bool JournalRecorder::Load(const char* fileName) {
    failure = FileFailure();
    if (IsRecording() || IsPlaying())
        return false;
    bool named = fileName && fileName[0];
    // Whatever happens below, the recording held now is kept unless the whole file passes.
    if (!file->Open(FileMode::Reading, named ? fileName : journal::kFilter, named))
        return file->Failed(&failure);

    const uint8_t* bytes = file->ReadAt(journal::kHeaderSize, 0);
    if (!bytes) {
        file->Close();
        return file->Failed(&failure);
    }
    journal::DecodeHeader(bytes, header.get());
    uint32_t size = file->GetSize();
    journal::Refusal refusal = journal::CheckHeader(*header, size, signature);
    uint32_t extraSize =
        header->headerSize > journal::kHeaderSize ? header->headerSize - journal::kHeaderSize : 0;
    if (refusal == journal::Refusal::kNone && extraSize > journal::kLargestHeaderBytes)
        refusal = journal::Refusal::kSections;
    std::unique_ptr<uint8_t[]> extra;
    if (refusal == journal::Refusal::kNone)
        extra.reset(new (std::nothrow) uint8_t[extraSize + 1]);
    if (refusal == journal::Refusal::kNone && !extra) {
        file->Close();
        return file->Failed(&failure, kNoMemoryForFile);
    }
    journal::HeaderSections sections;
    if (refusal == journal::Refusal::kNone) {
        if (!journal::ReadSpan(file.get(), journal::kHeaderSize, extraSize, extra.get())) {
            file->Close();
            return file->Failed(&failure);
        }
        journal::HeaderBytes read =
            journal::DecodeHeaderBytes(extra.get(), extraSize, header->count, &sections);
        if (read == journal::HeaderBytes::kDamaged ||
            (!sections.windows.empty() && header->recordSize < journal::kWindowRecordSize))
            refusal = journal::Refusal::kSections;
    }
    if (refusal != journal::Refusal::kNone) {
        file->Close();
        return file->Failed(&failure, journal::WhyNotLoaded(refusal, *header, size, signature));
    }

    JournalEvent* keptHead = head;
    JournalEvent* keptTail = tail;
    uint32_t keptCount = count;
    EventChunk* keptChunks = chunks;
    journal::WindowTable keptWindows = windows;
    journal::EventNotes keptNotes = notes;
    journal::PictureStore keptPictures = pictures;
    head = tail = cursor = nullptr;
    count = 0;
    chunks = nullptr;
    windows = journal::WindowTable{nullptr, 0, 0};
    notes = journal::EventNotes{nullptr, 0, 0};
    pictures = journal::PictureStore{nullptr, 0, 0};
    Loading loading = {this, &sections, &windows, &notes, &pictures, {}, {}};
    bool complete = true;
    for (const platform::WindowInfo& window : sections.windows)
        complete = complete && journal::AppendWindow(&windows, window) != 0;
    loading.noMemory = !complete;
    loading.latest.assign(windows.count + 1, 0);
    // Each record must name a window the table holds, or none; a place only one that names one.
    complete = complete && journal::ReadRecords(
                               file.get(), *header,
                               [](void* context, const uint8_t* record) {
                                   Loading& l = *static_cast<Loading*>(context);
                                   platform::EventRecord event = journal::DecodeRecord(record);
                                   uint32_t window = l.windows->count
                                                         ? journal::DecodeWindowReference(record)
                                                         : 0;
                                   if (window > l.windows->count ||
                                       !journal::SectionsFitEvent(*l.sections, &l.cursor, l.index++,
                                                                  event.message, window)) {
                                       l.damaged = true;
                                       return false;
                                   }
                                   uint32_t note = 0;
                                   l.noMemory = !NoteOfRecord(l, window, &note) ||
                                                !l.recorder->AppendEvent(event, note);
                                   return !l.noMemory;
                               },
                               &loading);
    file->Close();
    if (!complete) {
        // A read that failed, no memory for what the file holds, or a record that names a
        // window the table lacks (or a place without one).
        if (!failure.failed) {
            file->Failed(&failure, loading.noMemory ? kNoMemoryForFile
                                   : loading.damaged
                                       ? journal::WhyNotLoaded(journal::Refusal::kSections, *header,
                                                               size, signature)
                                       : std::string());
        }
        ReleaseEvents();
        head = keptHead;
        tail = keptTail;
        count = keptCount;
        chunks = keptChunks;
        windows = keptWindows;
        notes = keptNotes;
        pictures = keptPictures;
        return false;
    }
    FreeChunks(keptChunks);
    journal::ReleaseWindows(&keptWindows);
    journal::ReleaseNotes(&keptNotes);
    journal::ReleasePictures(&keptPictures);
    endKnown = false;  // a file does not tell when its recording was stopped
    return true;
}
