#include "journal/journal_codec.h"

#include <cstring>

#include "journal/little_endian.h"
#include "journal/window_table.h"
#include "storage/file_buffer.h"

namespace journal {

namespace {

const uint32_t kBatchRecords = 256;

}  // namespace

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

void FillHeader(const char* signature, uint32_t count, uint32_t firstTime, uint32_t lastTime,
                uint32_t extraSize, bool windows, JournalHeader* header) {
    memset(header->signature, 0, kSignatureSize);
    memcpy(header->signature, signature, strnlen(signature, kSignatureSize - 1));
    header->headerSize = kHeaderSize + extraSize;
    header->recordSize = windows ? kWindowRecordSize : kRecordSize;
    header->count = count;
    header->firstTime = firstTime;
    header->lastTime = lastTime;
    header->duration = lastTime - firstTime;
}

// The signature field holds the signature and a zero byte; what follows is not looked at. The
// records must fill the file exactly, each holding at least one event and fitting the read
// window; a header whose sizes overflow, or that claims more than a file can hold, is refused
// before anything is allocated for it. A file shorter than the header itself is refused too: the
// header was read with zeros standing in for its missing bytes.
Refusal CheckHeader(const JournalHeader& header, uint32_t fileSize, const char* signature) {
    if (fileSize < kHeaderSize)
        return Refusal::kShort;
    size_t length = strlen(signature);
    if (length >= kSignatureSize || memcmp(header.signature, signature, length) != 0 ||
        header.signature[length] != '\0')
        return Refusal::kSignature;
    if (header.recordSize < kRecordSize || header.recordSize > FileBuffer::kWindowSize)
        return Refusal::kBadRecordSize;
    uint64_t total = static_cast<uint64_t>(header.headerSize) +
                     static_cast<uint64_t>(header.count) * header.recordSize;
    if (total > kLargestFile)
        return Refusal::kTooLarge;
    if (total != fileSize)
        return Refusal::kSizeMismatch;
    if (header.firstTime != header.lastTime - header.duration)
        return Refusal::kTimes;
    return Refusal::kNone;
}

namespace {

std::string Number(uint64_t value) {
    return std::to_string(value);
}

}  // namespace

std::string DescribeRefusal(Refusal refusal, const JournalHeader& header, uint32_t fileSize,
                            const char* signature) {
    uint64_t total = uint64_t(header.headerSize) + uint64_t(header.count) * header.recordSize;
    std::string sizes = "header size " + Number(header.headerSize) + " + " + Number(header.count) +
                        " records x " + Number(header.recordSize) + " bytes = " + Number(total);
    switch (refusal) {
        case Refusal::kNone:
            return "it loads";
        case Refusal::kShort:
            return "the file is " + Number(fileSize) + " bytes, shorter than the " +
                   Number(kHeaderSize) + "-byte header";
        case Refusal::kSignature:
            return std::string("it does not begin with the signature \"") + signature +
                   "\" and a zero byte";
        case Refusal::kBadRecordSize:
            return "its record size " + Number(header.recordSize) +
                   " is not between 20 and 1048576 bytes";
        case Refusal::kTooLarge:
            return sizes + ", more than a journal file may hold (2 GiB)";
        case Refusal::kSizeMismatch:
            return sizes + ", but the file is " + Number(fileSize) + " bytes";
        case Refusal::kSections:
            return "a section of its header (the window table, the windows' places, ...) is "
                   "damaged, or a record names a window the table lacks";
        case Refusal::kTimes:
            return "its header's times disagree: first time " + Number(header.firstTime) +
                   " is not last time " + Number(header.lastTime) + " - duration " +
                   Number(header.duration);
    }
    return "it is damaged";
}

std::string WhyNotLoaded(Refusal refusal, const JournalHeader& header, uint32_t fileSize,
                         const char* signature) {
    return "not a journal the program loads: " +
           DescribeRefusal(refusal, header, fileSize, signature);
}

bool ReadRecords(FileBuffer* file, const JournalHeader& header, TakeRecord take, void* context) {
    // As many whole records at a time as the read window holds. The first batch takes only
    // what the header's read brought into the window, so the window reloads at the same places
    // as it would record by record.
    uint32_t perRead = FileBuffer::kWindowSize / header.recordSize;
    uint32_t batch = header.headerSize <= FileBuffer::kWindowSize - header.recordSize
                         ? (FileBuffer::kWindowSize - header.headerSize) / header.recordSize
                         : perRead;
    bool complete = true;
    for (uint32_t i = 0; i < header.count && complete; batch = perRead) {
        uint32_t records = header.count - i < batch ? header.count - i : batch;
        uint32_t offset = header.headerSize + i * header.recordSize;
        const uint8_t* bytes =
            file->ReadAt(records * header.recordSize, static_cast<int32_t>(offset));
        complete = bytes != nullptr;
        for (uint32_t k = 0; k < records && complete; k++, i++)
            complete = take(context, bytes + k * header.recordSize);
    }
    return complete;
}

bool ReadSpan(FileBuffer* file, uint32_t offset, uint32_t length, uint8_t* to) {
    while (length) {
        uint32_t piece = length < FileBuffer::kWindowSize ? length : FileBuffer::kWindowSize;
        const uint8_t* bytes = file->ReadAt(piece, static_cast<int32_t>(offset));
        if (!bytes)
            return false;
        memcpy(to, bytes, piece);
        to += piece;
        offset += piece;
        length -= piece;
    }
    return true;
}

bool WriteJournal(FileBuffer* file, const JournalHeader& header, const uint8_t* extra,
                  uint32_t extraSize, NextRecord next, void* context) {
    uint8_t bytes[kHeaderSize];
    EncodeHeader(header, bytes);
    bool stored = file->WriteAt(bytes, kHeaderSize, 0);
    for (uint32_t at = 0; stored && at < extraSize;) {
        uint32_t piece =
            extraSize - at < FileBuffer::kWindowSize ? extraSize - at : FileBuffer::kWindowSize;
        stored = file->WriteAt(extra + at, piece, -1);
        at += piece;
    }
    uint32_t recordSize = header.recordSize;
    bool windows = recordSize == kWindowRecordSize;
    // Records go to the file buffer a few hundred at a time: one call per record cost more
    // than encoding them.
    uint8_t batch[kBatchRecords * kWindowRecordSize];
    uint32_t filled = 0;
    platform::EventRecord record;
    uint32_t window = 0;
    while (stored && next(context, &record, &window)) {
        EncodeRecord(record, batch + filled);
        if (windows)
            EncodeWindowReference(window, batch + filled);
        filled += recordSize;
        if (filled == kBatchRecords * recordSize) {
            stored = file->WriteAt(batch, filled, -1);
            filled = 0;
        }
    }
    if (stored && filled)
        stored = file->WriteAt(batch, filled, -1);
    return stored;
}

}  // namespace journal
