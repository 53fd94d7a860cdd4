// A journal held whole: read as Load would read it, composed back into its bytes, written as
// Save writes it. The companion track: journal_companion.cpp; the file buffer: tool_files.cpp.
#include "cli/journal_io.h"

#include <algorithm>
#include <cstring>

#include "cli/tool_files.h"
#include "journal/little_endian.h"
#include "journal/picture_file.h"
#include "journal/window_table.h"
#include "platform/file.h"

namespace qvjournal {

using journal::GetU32;
using journal::PutU32;

const char kSignature[] = "Quorvatellianis";

uint32_t RecordBase(const JournalImage& image) {
    return image.windows.empty() ? journal::kRecordSize : journal::kWindowRecordSize;
}

bool HasSections(const JournalImage& image) {
    return !image.windows.empty() || !image.places.empty() || !image.pictures.empty() ||
           !image.motions.empty() || !image.others.empty();
}

std::vector<uint8_t> HeaderExtra(const JournalImage& image) {
    if (!HasSections(image))
        return image.headerBytes;
    journal::HeaderSections before, after;
    before.windows = image.windows;
    before.places = image.places;
    before.sectioned = image.sectioned;
    if (image.pictures.empty()) {
        before.motions = image.motions;
        before.others = image.others;
        return journal::EncodeHeaderBytes(before);
    }
    // The pictures go as the file had them: the sections before theirs, then theirs, then the
    // rest.
    before.sectioned = after.sectioned = true;
    after.motions = image.motions;
    after.others = image.others;
    std::vector<uint8_t> bytes = journal::EncodeHeaderBytes(before);
    size_t head = bytes.size();
    bytes.resize(head + journal::kSectionHead + 4);
    memcpy(bytes.data() + head, journal::kPicturesTag, 4);
    PutU32(bytes.data() + head + journal::kSectionHead, uint32_t(image.pictures.size()));
    for (const PictureBytes& picture : image.pictures) {
        uint8_t event[4];
        PutU32(event, picture.event);
        bytes.insert(bytes.end(), event, event + 4);
        bytes.insert(bytes.end(), picture.bytes.begin(), picture.bytes.end());
    }
    PutU32(bytes.data() + head + 4, uint32_t(bytes.size() - head - journal::kSectionHead));
    std::vector<uint8_t> rest = journal::EncodeHeaderBytes(after);
    bytes.insert(bytes.end(), rest.begin(), rest.end());
    return bytes;
}

namespace {

// The pictures' bytes in the header's bytes after the first 40, which DecodeHeaderBytes read
// whole as sections.
std::vector<PictureBytes> PictureBytesOf(const std::vector<uint8_t>& header) {
    std::vector<PictureBytes> pictures;
    const uint8_t* bytes = header.data();
    for (size_t at = 0; at + journal::kSectionHead <= header.size();) {
        const uint8_t* body = bytes + at + journal::kSectionHead;
        at += journal::kSectionHead + GetU32(bytes + at + 4);
        if (memcmp(body - journal::kSectionHead, journal::kPicturesTag, 4) != 0)
            continue;
        for (uint32_t i = 0, count = GetU32(body), p = 4; i < count; i++) {
            const uint8_t* picture = body + p + 4;
            uint32_t used = journal::kPictureHead + (picture[5] | uint32_t(picture[6]) << 8);
            pictures.push_back({GetU32(body + p), std::vector<uint8_t>(picture, picture + used)});
            p += 4 + used;
        }
    }
    return pictures;
}

// Whether the events fit what the sections say of them, as Load tests them: each names a window
// the table holds or none, and each list speaks only of events it can (a place of an event of a
// window, a picture of a press, motion of a move). `eventAt(i, &message, &window)`.
template <class EventAt>
bool EventsFit(const journal::HeaderSections& sections, uint32_t count, EventAt eventAt) {
    journal::SectionCursor cursor;
    for (uint32_t i = 0; i < count; i++) {
        uint32_t message, window;
        eventAt(i, &message, &window);
        if (window > sections.windows.size() ||
            !journal::SectionsFitEvent(sections, &cursor, i, message, window))
            return false;
    }
    return true;
}

}  // namespace

bool ReadJournal(const std::string& path, JournalImage* image, journal::Refusal* refusal,
                 uint32_t* fileSize, std::string* why) {
    *refusal = journal::Refusal::kNone;
    *fileSize = 0;
    FileBuffer* file = &Buffer();
    if (!OpenToRead(file, path, why))
        return false;
    const uint8_t* top = file->ReadAt(journal::kHeaderSize, 0);
    if (!top) {
        file->Close();
        *why = "could not be read";
        return false;
    }
    JournalHeader& header = image->header;
    journal::DecodeHeader(top, &header);
    *fileSize = file->GetSize();
    *refusal = journal::CheckHeader(header, *fileSize, kSignature);
    if (*refusal == journal::Refusal::kNone && header.headerSize > journal::kHeaderSize &&
        header.headerSize - journal::kHeaderSize > journal::kLargestHeaderBytes)
        *refusal = journal::Refusal::kSections;
    if (*refusal != journal::Refusal::kNone) {
        file->Close();
        *why = journal::WhyNotLoaded(*refusal, header, *fileSize, kSignature);
        return false;
    }

    JournalHeader kept = header;
    *image = JournalImage();
    image->header = kept;
    bool read = true;
    if (header.headerSize > journal::kHeaderSize) {
        image->headerBytes.resize(header.headerSize - journal::kHeaderSize);
        read = journal::ReadSpan(file, journal::kHeaderSize, uint32_t(image->headerBytes.size()),
                                 image->headerBytes.data());
    }
    journal::HeaderSections sections;
    journal::HeaderBytes kind =
        read ? journal::DecodeHeaderBytes(image->headerBytes.data(),
                                          uint32_t(image->headerBytes.size()), header.count,
                                          &sections)
             : journal::HeaderBytes::kOpaque;
    bool windows = !sections.windows.empty();
    if (kind == journal::HeaderBytes::kDamaged ||
        (windows && header.recordSize < journal::kWindowRecordSize)) {
        file->Close();
        *refusal = journal::Refusal::kSections;
        *why = journal::WhyNotLoaded(*refusal, header, *fileSize, kSignature);
        return false;
    }
    image->windows = std::move(sections.windows);
    uint32_t base = RecordBase(*image);
    image->events.reserve(header.count);
    image->windowOf.reserve(windows ? header.count : 0);
    image->padding.reserve(size_t(header.count) * (header.recordSize - base));
    read = read && journal::ReadRecords(
                       file, header,
                       [](void* context, const uint8_t* record) {
                           JournalImage* into = static_cast<JournalImage*>(context);
                           into->events.push_back(journal::DecodeRecord(record));
                           uint32_t recordBase = RecordBase(*into);
                           if (!into->windows.empty())
                               into->windowOf.push_back(journal::DecodeWindowReference(record));
                           into->padding.insert(into->padding.end(), record + recordBase,
                                                record + into->header.recordSize);
                           return true;
                       },
                       image);
    file->Close();
    if (!read) {
        *why = "could not be read to its end";
        return false;
    }
    sections.windows.swap(image->windows);  // for the test, and back
    bool fit = EventsFit(sections, header.count, [&](uint32_t i, uint32_t* message, uint32_t* w) {
        *message = image->events[i].message;
        *w = windows ? image->windowOf[i] : 0;
    });
    sections.windows.swap(image->windows);
    if (!fit) {
        *refusal = journal::Refusal::kSections;
        *why = journal::WhyNotLoaded(*refusal, header, *fileSize, kSignature);
        return false;
    }
    if (kind == journal::HeaderBytes::kSections) {
        if (!sections.pictures.empty())
            image->pictures = PictureBytesOf(image->headerBytes);
        image->headerBytes.clear();
        image->places = std::move(sections.places);
        image->motions = std::move(sections.motions);
        image->others = std::move(sections.others);
        image->sectioned = sections.sectioned;
    }
    return true;
}

std::string DescribeRefusal(journal::Refusal refusal, const JournalHeader& header,
                            uint32_t fileSize) {
    return journal::DescribeRefusal(refusal, header, fileSize, kSignature);
}

namespace {

// Whether Load takes the header's sections of a whole file in memory, whose header passed
// CheckHeader, with its records.
bool SectionsLoad(const uint8_t* data, const JournalHeader& header) {
    uint32_t size =
        header.headerSize > journal::kHeaderSize ? header.headerSize - journal::kHeaderSize : 0;
    journal::HeaderSections sections;
    if (size > journal::kLargestHeaderBytes ||
        journal::DecodeHeaderBytes(data + journal::kHeaderSize, size, header.count, &sections) ==
            journal::HeaderBytes::kDamaged)
        return false;
    bool windows = !sections.windows.empty();
    if (windows && header.recordSize < journal::kWindowRecordSize)
        return false;
    return EventsFit(sections, header.count, [&](uint32_t i, uint32_t* message, uint32_t* w) {
        const uint8_t* record = data + header.headerSize + size_t(i) * header.recordSize;
        *message = journal::DecodeRecord(record).message;
        *w = windows ? journal::DecodeWindowReference(record) : 0;
    });
}

}  // namespace

bool ComposeJournal(const JournalImage& image, std::vector<uint8_t>* bytes, std::string* why) {
    const JournalHeader& header = image.header;
    uint64_t records =
        uint64_t(header.headerSize) + uint64_t(image.events.size()) * header.recordSize;
    uint64_t size = records > journal::kHeaderSize ? records : journal::kHeaderSize;
    JournalHeader written = header;
    written.count = uint32_t(image.events.size());
    uint32_t base = RecordBase(image);
    std::vector<uint8_t> extraHeader = HeaderExtra(image);
    journal::Refusal refusal = journal::Refusal::kTooLarge;
    if (image.events.size() <= 0xFFFFFFFFu && header.recordSize >= base &&
        size <= journal::kLargestFile) {
        bytes->assign(static_cast<size_t>(size), 0);  // below kLargestFile
        uint8_t* data = bytes->data();
        journal::EncodeHeader(written, data);
        if (header.headerSize > journal::kHeaderSize && !extraHeader.empty())
            memcpy(data + journal::kHeaderSize, extraHeader.data(),
                   std::min<size_t>(extraHeader.size(), header.headerSize - journal::kHeaderSize));
        uint32_t extra = header.recordSize - base;
        // Records written after the header win where a short header overlaps them, as the file
        // they were read from had it.
        for (size_t i = 0; i < image.events.size(); i++) {
            uint8_t* record = data + header.headerSize + i * header.recordSize;
            journal::EncodeRecord(image.events[i], record);
            if (!image.windows.empty())
                journal::EncodeWindowReference(image.windowOf[i], record);
            if (extra)
                memcpy(record + base, image.padding.data() + i * extra, extra);
        }
        journal::DecodeHeader(data, &written);
        refusal = journal::CheckHeader(written, uint32_t(size), kSignature);
        if (refusal == journal::Refusal::kNone && !SectionsLoad(data, written))
            refusal = journal::Refusal::kSections;
    } else if (header.recordSize < journal::kRecordSize) {
        refusal = journal::Refusal::kBadRecordSize;
    } else if (header.recordSize < base) {
        refusal = journal::Refusal::kSections;
    }
    if (refusal == journal::Refusal::kNone)
        return true;
    *why = DescribeRefusal(refusal, written, uint32_t(size));
    return false;
}

bool WriteFileBytes(const std::string& path, const uint8_t* data, size_t size, std::string* why) {
    FileBuffer* file = &Buffer();
    if (!OpenToWrite(file, path, why))
        return false;
    return FinishWrite(file, WriteSpan(file, data, size), why);
}

std::string TooLarge(uint64_t count, uint64_t headerExtra, bool windows) {
    if (headerExtra > journal::kLargestHeaderBytes)
        return "its header would take " + std::to_string(headerExtra) +
               " bytes for windows, pictures and motion, more than a journal's header may (" +
               std::to_string(journal::kLargestHeaderBytes >> 20) + " MiB)";
    JournalHeader header;
    journal::FillHeader(kSignature, uint32_t(count), 0, 0, uint32_t(headerExtra), windows, &header);
    if (header.headerSize + count * header.recordSize <= journal::kLargestFile)
        return "";
    return DescribeRefusal(journal::Refusal::kTooLarge, header, 0);
}

bool WriteCanonicalJournal(const std::string& path, uint32_t count, uint32_t firstTime,
                           uint32_t lastTime, const JournalImage& sections,
                           journal::NextRecord next, void* context, std::string* why) {
    std::vector<uint8_t> extra = HeaderExtra(sections);
    bool windows = !sections.windows.empty();
    // Bounded by the bytes the file will take, its sections and wider records included.
    *why = TooLarge(count, extra.size(), windows);
    if (!why->empty())
        return false;
    JournalHeader header;
    journal::FillHeader(kSignature, count, firstTime, lastTime, uint32_t(extra.size()), windows,
                        &header);
    FileBuffer* file = &Buffer();
    if (!OpenToWrite(file, path, why))
        return false;
    return FinishWrite(
        file,
        journal::WriteJournal(file, header, extra.data(), uint32_t(extra.size()), next, context),
        why);
}

bool SameFile(const std::string& a, const std::string& b) {
    // Spellings differ where files do not: letter case, "." and "..", links.
    return a == b || platform::FileSame(a.c_str(), b.c_str());
}

bool ReadFileBytes(const std::string& path, std::vector<uint8_t>* bytes, std::string* why) {
    FileBuffer* file = &Buffer();
    if (!OpenToRead(file, path, why))
        return false;
    uint32_t size = file->GetSize();
    bool read = size <= journal::kLargestFile;
    if (read) {
        bytes->resize(size);
        read = journal::ReadSpan(file, 0, size, bytes->data());
    }
    file->Close();
    if (!read)
        *why = "could not be read to its end";
    return read;
}

}  // namespace qvjournal
