// The sound file beside the journal file: the recorder's signature and a zero byte, then the raw
// PCM of every block in chain order. Nothing records the block boundaries, so a loaded chain is
// cut into full blocks again.
#include <string.h>

#include <memory>
#include <new>

#include "sound/sound_recorder.h"
#include "storage/file_buffer.h"

namespace {

// The journal file's name with "_" appended, in a buffer of its own; null when out of memory.
std::unique_ptr<char[]> SoundFileName(const char* journalFileName) {
    size_t length = strlen(journalFileName);
    std::unique_ptr<char[]> name(new (std::nothrow) char[length + 2]);
    if (!name)
        return nullptr;
    memcpy(name.get(), journalFileName, length);
    name[length] = '_';
    name[length + 1] = '\0';
    return name;
}

// A sound file is saved right after its journal, so it is never older than the journal of its
// own recording; this much is allowed for file systems that keep times in whole seconds.
const uint64_t kTimeSlackMs = 2000;

// True when the sound file was written before its journal by more than the slack: it belongs
// to a recording that this journal replaced.
bool OlderThanItsJournal(const char* soundFileName, const char* journalFileName) {
    uint64_t sound = 0, journal = 0;
    return FileBuffer::GetModifiedTime(soundFileName, &sound) &&
           FileBuffer::GetModifiedTime(journalFileName, &journal) && sound + kTimeSlackMs < journal;
}

}  // namespace

int32_t RemoveSoundFile(const char* journalFileName) {
    if (!journalFileName || !journalFileName[0])
        return 0;
    std::unique_ptr<char[]> name = SoundFileName(journalFileName);
    return name && FileBuffer::Remove(name.get());
}

int32_t SoundRecorder::Save(const char* journalFileName) {
    if (IsRecording() || IsPlaying() || !HasSound() || !journalFileName || !journalFileName[0])
        return 0;
    std::unique_ptr<char[]> name = SoundFileName(journalFileName);
    if (!name || !file->Open(0, name.get(), 1))
        return 0;
    file->WriteAt(signature, uint32_t(strlen(signature) + 1), -1);
    for (AudioBlock* block = head; block; block = block->next)
        if (block->header->bytesRecorded)
            file->WriteAt(block->header->data, block->header->bytesRecorded, -1);
    file->Flush();
    // The file buffer keeps the previous file unless every byte reached the new one.
    return file->Close() ? 1 : 0;
}

int32_t SoundRecorder::Load(const char* journalFileName) {
    if (IsRecording() || IsPlaying() || !journalFileName || !journalFileName[0])
        return 0;
    Clear();
    std::unique_ptr<char[]> name = SoundFileName(journalFileName);
    if (!name || !file->Open(1, name.get(), 1))
        return 0;
    if (OlderThanItsJournal(name.get(), journalFileName)) {
        file->Close();
        return 1;  // as for a file that is not ours: no sound
    }
    int32_t result = 1;
    uint32_t headerLength = uint32_t(strlen(signature) + 1);
    uint32_t size = file->GetSize();
    const uint8_t* top = file->ReadAt(headerLength, -1);
    // Bytes past the end read as zero, so a file without room for the zero byte is checked by size.
    if (top && size >= headerLength && memcmp(top, signature, headerLength) == 0) {
        uint32_t offset = headerLength;
        uint32_t left = size - headerLength;
        while (left) {
            uint32_t piece = left < kBlockSize ? left : kBlockSize;
            const uint8_t* data =
                offset <= 0x7FFFFFFFu ? file->ReadAt(piece, int32_t(offset)) : nullptr;
            if (!data || !AppendBlock(data, piece)) {
                // Out of memory: a track cut short would play out of step, so none is kept.
                FreeBlocks();
                result = 0;
                break;
            }
            offset += piece;
            left -= piece;
        }
    }
    file->Close();
    return result;
}
