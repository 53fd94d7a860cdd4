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

// What a save writes beside the records: the windows, and an event's place wherever its window
// stood elsewhere than at the event of that window before it. A recording whose windows never
// moved gets the table alone, as files always had.
journal::HeaderSections SectionsOf(const JournalEvent* head, const journal::WindowTable& windows,
                                   const journal::EventNotes& notes) {
    journal::HeaderSections sections;
    sections.windows.assign(windows.entries, windows.entries + windows.count);
    std::vector<const platform::WindowInfo*> last(windows.count + 1, nullptr);
    std::vector<journal::EventNote> stood(windows.count + 1);
    uint32_t index = 0;
    for (const JournalEvent* event = head; event; event = event->next, index++) {
        if (!event->note)
            continue;
        const journal::EventNote& note = notes.notes[event->note - 1];
        journal::EventNote& before = stood[note.window];
        if (!last[note.window]) {
            last[note.window] = &windows.entries[note.window - 1];
            before = {note.window, last[note.window]->rect, last[note.window]->dpi};
        }
        if (note.rect.left != before.rect.left || note.rect.top != before.rect.top ||
            note.rect.right != before.rect.right || note.rect.bottom != before.rect.bottom ||
            note.dpi != before.dpi) {
            sections.places.push_back({index, note.rect, note.dpi});
            before = note;
        }
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

    std::vector<uint8_t> extra = journal::EncodeHeaderBytes(SectionsOf(head, windows, notes));
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

// How a file's records turn into events with notes: each record names its window, and an event
// with a place of its own starts a new note of that window; the others share its latest.
struct Loading {
    JournalRecorder* recorder;
    const journal::HeaderSections* sections;
    journal::WindowTable* windows;
    journal::EventNotes* notes;
    std::vector<uint32_t> latest;  // by window: the note its events name now
    uint32_t index = 0;
    size_t place = 0;
    bool noMemory = false;
    bool damaged = false;
};

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
    std::unique_ptr<uint8_t[]> extra(new (std::nothrow) uint8_t[extraSize + 1]);
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
    head = tail = cursor = nullptr;
    count = 0;
    chunks = nullptr;
    windows = journal::WindowTable{nullptr, 0, 0};
    notes = journal::EventNotes{nullptr, 0, 0};
    Loading loading = {this, &sections, &windows, &notes, {}};
    bool complete = true;
    for (const platform::WindowInfo& window : sections.windows)
        complete = complete && journal::AppendWindow(&windows, window) != 0;
    loading.noMemory = !complete;
    loading.latest.assign(windows.count + 1, 0);
    // Each record must name a window the table holds, or none; a place only one that names one.
    complete = complete &&
               journal::ReadRecords(
                   file.get(), *header,
                   [](void* context, const uint8_t* record) {
                       Loading& l = *static_cast<Loading*>(context);
                       uint32_t window =
                           l.windows->count ? journal::DecodeWindowReference(record) : 0;
                       const std::vector<journal::WindowPlace>& places = l.sections->places;
                       bool placed = l.place < places.size() && places[l.place].event == l.index;
                       l.index++;
                       if (window > l.windows->count || (placed && !window)) {
                           l.damaged = true;
                           return false;
                       }
                       uint32_t note = 0;
                       if (placed) {
                           const journal::WindowPlace& p = places[l.place++];
                           note = journal::AddNote(l.notes, {window, p.rect, p.dpi});
                           l.latest[window] = note;
                       } else if (window && !(note = l.latest[window])) {
                           const platform::WindowInfo& entry = l.windows->entries[window - 1];
                           note = journal::AddNote(l.notes, {window, entry.rect, entry.dpi});
                           l.latest[window] = note;
                       }
                       l.noMemory = (window && !note) ||
                                    !l.recorder->AppendEvent(journal::DecodeRecord(record), note);
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
        return false;
    }
    FreeChunks(keptChunks);
    journal::ReleaseWindows(&keptWindows);
    journal::ReleaseNotes(&keptNotes);
    endKnown = false;  // a file does not tell when its recording was stopped
    return true;
}
