// The journal file: a 40-byte header, then one 20-byte record per event, all little-endian.
#include <cstring>

#include "journal/journal_recorder.h"
#include "storage/file_buffer.h"

namespace {

const char kFilter[] = "Journal File(*.Jnf)\0*.Jnf\0";  // the literal adds the final NUL
const uint32_t kHeaderSize = 40;
const uint32_t kRecordSize = 20;
const uint32_t kSignatureSize = 16;
const uint32_t kBatchRecords = 256;
// Records are read at signed 32-bit offsets.
const uint64_t kLargestFile = 0x7FFFFFFF;

void PutU32(uint8_t* bytes, uint32_t value) {
    bytes[0] = static_cast<uint8_t>(value);
    bytes[1] = static_cast<uint8_t>(value >> 8);
    bytes[2] = static_cast<uint8_t>(value >> 16);
    bytes[3] = static_cast<uint8_t>(value >> 24);
}

uint32_t GetU32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

void EncodeHeader(const JournalHeader& header, uint8_t* bytes) {
    memcpy(bytes, header.signature, kSignatureSize);
    PutU32(bytes + 16, header.headerSize);
    PutU32(bytes + 20, header.recordSize);
    PutU32(bytes + 24, header.count);
    PutU32(bytes + 28, header.firstTime);
    PutU32(bytes + 32, header.lastTime);
    PutU32(bytes + 36, header.duration);
}

void DecodeHeader(const uint8_t* bytes, JournalHeader* header) {
    memcpy(header->signature, bytes, kSignatureSize);
    header->headerSize = GetU32(bytes + 16);
    header->recordSize = GetU32(bytes + 20);
    header->count = GetU32(bytes + 24);
    header->firstTime = GetU32(bytes + 28);
    header->lastTime = GetU32(bytes + 32);
    header->duration = GetU32(bytes + 36);
}

void EncodeRecord(const platform::EventRecord& record, uint8_t* bytes) {
    PutU32(bytes, record.message);
    PutU32(bytes + 4, record.paramL);
    PutU32(bytes + 8, record.paramH);
    PutU32(bytes + 12, record.time);
    PutU32(bytes + 16, record.hwnd);
}

platform::EventRecord DecodeRecord(const uint8_t* bytes) {
    return {GetU32(bytes), GetU32(bytes + 4), GetU32(bytes + 8), GetU32(bytes + 12),
            GetU32(bytes + 16)};
}

// The file's signature field holds the signature and a zero byte; what follows is not looked at.
bool SignatureMatches(const JournalHeader& header, const char* signature) {
    size_t length = strlen(signature);
    return length < kSignatureSize && memcmp(header.signature, signature, length) == 0 &&
           header.signature[length] == '\0';
}

// The records must fill the file exactly, each holding at least one event and fitting the read
// window; a header whose sizes overflow, or that claims more than a file can hold, is refused
// before anything is allocated for it. A file shorter than the header itself is refused too: the
// header was read with zeros standing in for its missing bytes.
bool SizesMatch(const JournalHeader& header, uint32_t fileSize) {
    if (fileSize < kHeaderSize || header.recordSize < kRecordSize ||
        header.recordSize > FileBuffer::kWindowSize) {
        return false;
    }
    uint64_t total = static_cast<uint64_t>(header.headerSize) +
                     static_cast<uint64_t>(header.count) * header.recordSize;
    return total <= kLargestFile && total == fileSize;
}

}  // namespace

int32_t JournalRecorder::Save(const char* fileName) {
    if (IsRecording() || IsPlaying() || !HasEvents())
        return 0;
    bool named = fileName && fileName[0];
    if (!file->Open(0, named ? fileName : kFilter, named))
        return 0;

    memset(header->signature, 0, kSignatureSize);
    memcpy(header->signature, signature, strnlen(signature, kSignatureSize - 1));
    header->headerSize = kHeaderSize;
    header->recordSize = kRecordSize;
    header->count = count;
    header->firstTime = head->record.time;
    header->lastTime = tail->record.time;
    header->duration = header->lastTime - header->firstTime;

    uint8_t bytes[kHeaderSize];
    EncodeHeader(*header, bytes);
    int32_t stored = file->WriteAt(bytes, header->headerSize, 0);
    // Records go to the file buffer a few hundred at a time: one call per record cost more
    // than encoding them.
    uint8_t batch[kBatchRecords * kRecordSize];
    uint32_t filled = 0;
    for (const JournalEvent* event = head; event && stored; event = event->next) {
        EncodeRecord(event->record, batch + filled);
        filled += kRecordSize;
        if (filled == sizeof batch) {
            stored = file->WriteAt(batch, filled, -1);
            filled = 0;
        }
    }
    if (stored && filled)
        stored = file->WriteAt(batch, filled, -1);
    // A save that could not store every byte leaves any previous file as it was.
    int32_t closed = file->Close();
    return stored && closed;
}

int32_t JournalRecorder::Load(const char* fileName) {
    if (IsRecording() || IsPlaying())
        return 0;
    bool named = fileName && fileName[0];
    // Whatever happens below, the recording held now is kept unless the whole file passes.
    if (!file->Open(1, named ? fileName : kFilter, named))
        return 0;

    const uint8_t* bytes = file->ReadAt(kHeaderSize, 0);
    if (!bytes) {
        file->Close();
        return 0;
    }
    DecodeHeader(bytes, header);
    if (!SignatureMatches(*header, signature) || !SizesMatch(*header, file->GetSize()) ||
        header->firstTime != header->lastTime - header->duration) {
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
    bool complete = true;
    // As many whole records at a time as the read window holds. The first batch takes only
    // what the header's read brought into the window, so the window reloads at the same places
    // as it would record by record.
    uint32_t perRead = FileBuffer::kWindowSize / header->recordSize;
    uint32_t batch = header->headerSize <= FileBuffer::kWindowSize - header->recordSize
                         ? (FileBuffer::kWindowSize - header->headerSize) / header->recordSize
                         : perRead;
    for (uint32_t i = 0; i < header->count && complete; batch = perRead) {
        uint32_t records = header->count - i < batch ? header->count - i : batch;
        uint32_t offset = header->headerSize + i * header->recordSize;
        bytes = file->ReadAt(records * header->recordSize, static_cast<int32_t>(offset));
        complete = bytes != nullptr;
        for (uint32_t k = 0; k < records && complete; k++, i++)
            complete = AppendEvent(DecodeRecord(bytes + k * header->recordSize));
    }
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
