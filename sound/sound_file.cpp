// The sound file beside the journal file: the recorder's signature and a zero byte, then the raw
// PCM of every block in chain order. Nothing records the block boundaries, so a loaded chain is
// cut into full blocks again.
#include <memory>

#include "sound/sound_file_format.h"
#include "sound/sound_recorder.h"
#include "storage/file_buffer.h"

bool RemoveSoundFile(const char* journalFileName) {
    if (!journalFileName || !journalFileName[0])
        return false;
    std::unique_ptr<char[]> name = sound::SoundFileName(journalFileName);
    return name && FileBuffer::Remove(name.get());
}

bool SoundRecorder::Save(const char* journalFileName) {
    failure = FileFailure();
    if (IsRecording() || IsPlaying() || !HasSound() || !journalFileName || !journalFileName[0])
        return false;
    std::unique_ptr<char[]> name = sound::SoundFileName(journalFileName);
    if (!name)
        return false;
    if (!file->OpenForSaving(name.get()))
        return file->Failed(&failure);
    file->WriteAt(signature, sound::SoundHeaderLength(signature), -1);
    for (AudioBlock* block = head; block; block = block->next)
        if (block->header->bytesRecorded)
            file->WriteAt(block->header->data, block->header->bytesRecorded, -1);
    file->Flush();
    // The file buffer keeps the previous file unless every byte reached the new one.
    return file->Close() || file->Failed(&failure);
}

bool SoundRecorder::Load(const char* journalFileName) {
    failure = FileFailure();
    if (IsRecording() || IsPlaying() || !journalFileName || !journalFileName[0])
        return false;
    Clear();
    std::unique_ptr<char[]> name = sound::SoundFileName(journalFileName);
    uint64_t written = 0;
    if (!name || !FileBuffer::GetModifiedTime(name.get(), &written))
        return false;  // no sound file: a recording without sound
    if (!file->OpenForReading(name.get()))
        return file->Failed(&failure);
    if (sound::WrittenBeforeItsJournal(name.get(), journalFileName)) {
        file->Close();
        return true;  // as for a file that is not ours: no sound
    }
    bool result = true;
    uint32_t headerLength = sound::SoundHeaderLength(signature);
    uint32_t size = file->GetSize();
    const uint8_t* top = file->ReadAt(headerLength, -1);
    if (!top) {
        result = file->Failed(&failure);
    } else if (sound::IsSoundFile(top, size, signature)) {
        uint32_t offset = headerLength;
        uint32_t left = size - headerLength;
        while (left) {
            uint32_t piece = left < kBlockSize ? left : kBlockSize;
            const uint8_t* data =
                offset <= 0x7FFFFFFFu ? file->ReadAt(piece, int32_t(offset)) : nullptr;
            if (!data || !AppendBlock(data, piece)) {
                // A track cut short would play out of step, so none is kept.
                FreeBlocks();
                result = file->Failed(&failure, data ? kNoMemoryForFile : "");
                break;
            }
            offset += piece;
            left -= piece;
        }
    }
    file->Close();
    return result;
}
