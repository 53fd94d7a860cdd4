// The companion sound track beside a journal: read, written piece by piece with silence where a
// piece has no sound, and removed.
#include <algorithm>

#include "cli/journal_io.h"
#include "cli/tool_files.h"
#include "platform/file.h"
#include "sound/sound_file_format.h"

namespace qvjournal {

namespace {

const uint8_t kSilence = 0x80;

}  // namespace

std::string CompanionName(const std::string& journalPath) {
    return std::string(sound::SoundFileName(journalPath.c_str()).get());
}

uint64_t LargestTrack() {
    return journal::kLargestFile - sound::SoundHeaderLength(kSignature);
}

bool ReadCompanion(const std::string& journalPath, Companion* kind, std::vector<uint8_t>* track,
                   std::string* why) {
    std::string name = CompanionName(journalPath);
    *kind = Companion::kNone;
    if (track)
        track->clear();
    if (platform::FileLookUp(name.c_str()) == platform::kPathMissing)
        return true;
    FileBuffer* file = &Buffer();
    if (!OpenToRead(file, name, why)) {
        *why = name + ": " + *why;
        return false;
    }
    uint32_t headerLength = sound::SoundHeaderLength(kSignature);
    uint32_t size = file->GetSize();
    bool read = true;
    *kind = Companion::kForeign;
    bool ours = sound::IsSoundFile(file->ReadAt(headerLength, 0), size, kSignature);
    if (ours && sound::WrittenBeforeItsJournal(name.c_str(), journalPath.c_str())) {
        *kind = Companion::kStale;
    } else if (ours) {
        *kind = Companion::kTrack;
        read = size <= journal::kLargestFile;
        if (read && track) {
            track->resize(size - headerLength);
            read = journal::ReadSpan(file, headerLength, uint32_t(track->size()), track->data());
        }
    }
    file->Close();
    if (!read)
        *why = name + ": could not be read to its end";
    return read;
}

bool WriteCompanion(const std::string& journalPath, NextPiece next, void* context,
                    std::string* why) {
    std::string name = CompanionName(journalPath);
    // Nothing is allocated while the file is open.
    std::vector<uint8_t> silence(FileBuffer::kWindowSize, kSilence);
    FileBuffer* file = &Buffer();
    if (!OpenToWrite(file, name, why)) {
        *why = name + ": " + *why;
        return false;
    }
    bool stored = file->WriteAt(kSignature, sound::SoundHeaderLength(kSignature), -1) != 0;
    TrackPiece piece;
    while (stored && next(context, &piece)) {
        uint64_t available = 0;
        if (piece.source && piece.from < piece.source->size())
            available = std::min<uint64_t>(piece.length, piece.source->size() - piece.from);
        if (available)
            stored =
                stored && WriteSpan(file, piece.source->data() + piece.from, size_t(available));
        for (uint64_t left = piece.length - available; stored && left;) {
            size_t chunk = size_t(std::min<uint64_t>(left, silence.size()));
            stored = WriteSpan(file, silence.data(), chunk);
            left -= chunk;
        }
    }
    if (stored)
        file->Flush();
    if (FinishWrite(file, stored, why))
        return true;
    *why = name + ": " + *why;
    return false;
}

bool RemoveCompanion(const std::string& journalPath, bool* removed, std::string* why) {
    *removed = false;
    Companion kind;
    if (!ReadCompanion(journalPath, &kind, nullptr, why))
        return false;
    if (kind != Companion::kTrack && kind != Companion::kStale)
        return true;
    std::string name = CompanionName(journalPath);
    if (!FileBuffer::Remove(name.c_str())) {
        *why = name + ": could not be removed";
        return false;
    }
    *removed = true;
    return true;
}

}  // namespace qvjournal
