// The journal file: Save and Load of the recorder, over the shared journal codec.
#include "journal/journal_codec.h"
#include "journal/journal_recorder.h"
#include "storage/file_buffer.h"

bool JournalRecorder::Save(const char* fileName) {
    if (IsRecording() || IsPlaying() || !HasEvents())
        return false;
    bool named = fileName && fileName[0];
    if (!file->Open(FileMode::Saving, named ? fileName : journal::kFilter, named))
        return false;

    // Without windows the file is the plain layout, as it always was.
    journal::FillHeader(signature, count, head->record.time, tail->record.time,
                        journal::WindowTableSize(windows.entries, windows.count), header.get());
    const JournalEvent* event = head;
    bool stored = journal::WriteJournal(
        file.get(), *header, windows.entries, windows.count,
        [](void* context, platform::EventRecord* record, uint32_t* window) {
            const JournalEvent*& next = *static_cast<const JournalEvent**>(context);
            if (!next)
                return false;
            *record = next->record;
            *window = next->window;
            next = next->next;
            return true;
        },
        &event);
    // A save that could not store every byte leaves any previous file as it was.
    bool closed = file->Close();
    return stored && closed;
}

bool JournalRecorder::Load(const char* fileName) {
    if (IsRecording() || IsPlaying())
        return false;
    bool named = fileName && fileName[0];
    // Whatever happens below, the recording held now is kept unless the whole file passes.
    if (!file->Open(FileMode::Reading, named ? fileName : journal::kFilter, named))
        return false;

    const uint8_t* bytes = file->ReadAt(journal::kHeaderSize, 0);
    if (!bytes) {
        file->Close();
        return false;
    }
    journal::DecodeHeader(bytes, header.get());
    if (journal::CheckHeader(*header, file->GetSize(), signature) != journal::Refusal::kNone) {
        file->Close();
        return false;
    }

    JournalEvent* keptHead = head;
    JournalEvent* keptTail = tail;
    uint32_t keptCount = count;
    EventChunk* keptChunks = chunks;
    journal::WindowTable keptWindows = windows;
    head = tail = cursor = nullptr;
    count = 0;
    chunks = nullptr;
    windows = journal::WindowTable{nullptr, 0, 0};
    // Each record must name a window the table holds, or none.
    bool complete = journal::ReadWindowTable(file.get(), *header, &windows) &&
                    journal::ReadRecords(
                        file.get(), *header,
                        [](void* context, const uint8_t* record) {
                            JournalRecorder* self = static_cast<JournalRecorder*>(context);
                            uint32_t window =
                                self->windows.count ? journal::DecodeWindowReference(record) : 0;
                            return window <= self->windows.count &&
                                   self->AppendEvent(journal::DecodeRecord(record), window);
                        },
                        this);
    file->Close();
    if (!complete) {
        ReleaseEvents();
        head = keptHead;
        tail = keptTail;
        count = keptCount;
        chunks = keptChunks;
        windows = keptWindows;
        return false;
    }
    FreeChunks(keptChunks);
    journal::ReleaseWindows(&keptWindows);
    return true;
}
