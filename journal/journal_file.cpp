// The journal file: Save and Load of the recorder, over the shared journal codec.
#include "journal/journal_codec.h"
#include "journal/journal_recorder.h"
#include "storage/file_buffer.h"

bool JournalRecorder::Save(const char* fileName) {
    failure = FileFailure();
    if (IsRecording() || IsPlaying() || !HasEvents())
        return false;
    bool named = fileName && fileName[0];
    if (!file->Open(FileMode::Saving, named ? fileName : journal::kFilter, named))
        return file->Failed(&failure);

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
    return (stored && closed) || file->Failed(&failure);
}

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
    if (refusal != journal::Refusal::kNone) {
        file->Close();
        return file->Failed(&failure, journal::WhyNotLoaded(refusal, *header, size, signature));
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
                            if (window > self->windows.count)
                                return false;
                            return self->AppendEvent(journal::DecodeRecord(record), window) ||
                                   self->file->Failed(&self->failure, kNoMemoryForFile);
                        },
                        this);
    file->Close();
    if (!complete) {
        // A read that failed, else the window table or a reference to it, unless memory ran out.
        if (!failure.failed)
            file->Failed(&failure, file->GetError()
                                       ? std::string()
                                       : journal::WhyNotLoaded(journal::Refusal::kWindows, *header,
                                                               size, signature));
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
