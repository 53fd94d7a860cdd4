// The journal file: Save and Load of the recorder, over the shared journal codec.
#include "journal/journal_codec.h"
#include "journal/journal_recorder.h"
#include "storage/file_buffer.h"

int32_t JournalRecorder::Save(const char* fileName) {
    if (IsRecording() || IsPlaying() || !HasEvents())
        return 0;
    bool named = fileName && fileName[0];
    if (!file->Open(0, named ? fileName : journal::kFilter, named))
        return 0;

    journal::FillHeader(signature, count, head->record.time, tail->record.time, header);
    const JournalEvent* event = head;
    int32_t stored = journal::WriteJournal(
        file, *header,
        [](void* context, platform::EventRecord* record) -> int32_t {
            const JournalEvent*& next = *static_cast<const JournalEvent**>(context);
            if (!next)
                return 0;
            *record = next->record;
            next = next->next;
            return 1;
        },
        &event);
    // A save that could not store every byte leaves any previous file as it was.
    int32_t closed = file->Close();
    return stored && closed;
}

int32_t JournalRecorder::Load(const char* fileName) {
    if (IsRecording() || IsPlaying())
        return 0;
    bool named = fileName && fileName[0];
    // Whatever happens below, the recording held now is kept unless the whole file passes.
    if (!file->Open(1, named ? fileName : journal::kFilter, named))
        return 0;

    const uint8_t* bytes = file->ReadAt(journal::kHeaderSize, 0);
    if (!bytes) {
        file->Close();
        return 0;
    }
    journal::DecodeHeader(bytes, header);
    if (journal::CheckHeader(*header, file->GetSize(), signature) != journal::Refusal::kNone) {
        file->Close();
        return 0;
    }

    JournalEvent* keptHead = head;
    JournalEvent* keptTail = tail;
    uint32_t keptCount = count;
    EventChunk* keptChunks = chunks;
    head = tail = cursor = nullptr;
    count = 0;
    chunks = nullptr;
    int32_t complete = journal::ReadRecords(
        file, *header,
        [](void* context, const uint8_t* record) -> int32_t {
            return static_cast<JournalRecorder*>(context)->AppendEvent(
                journal::DecodeRecord(record));
        },
        this);
    file->Close();
    if (!complete) {
        ReleaseEvents();
        head = keptHead;
        tail = keptTail;
        count = keptCount;
        chunks = keptChunks;
        return 0;
    }
    FreeChunks(keptChunks);
    return 1;
}
