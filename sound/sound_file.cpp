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
    if (IsRecording() || IsPlaying() || !HasSound() || !journalFileName || !journalFileName[0])
        return false;
    std::unique_ptr<char[]> name = sound::SoundFileName(journalFileName);
    if (!name || !file->OpenForSaving(name.get()))
        return false;
    file->WriteAt(signature, sound::SoundHeaderLength(signature), -1);
    for (AudioBlock* block = head; block; block = block->next)
        if (block->header->bytesRecorded)
            file->WriteAt(block->header->data, block->header->bytesRecorded, -1);
    file->Flush();
    // The file buffer keeps the previous file unless every byte reached the new one.
    return file->Close();
}

bool SoundRecorder::Load(const char* journalFileName) {
    if (IsRecording() || IsPlaying() || !journalFileName || !journalFileName[0])
        return false;
    Clear();
    std::unique_ptr<char[]> name = sound::SoundFileName(journalFileName);
    if (!name || !file->OpenForReading(name.get()))
        return false;
    if (sound::WrittenBeforeItsJournal(name.get(), journalFileName)) {
        file->Close();
        return true;  // as for a file that is not ours: no sound
    }
    bool result = true;
    uint32_t headerLength = sound::SoundHeaderLength(signature);
    uint32_t size = file->GetSize();
    const uint8_t* top = file->ReadAt(headerLength, -1);
    if (sound::IsSoundFile(top, size, signature)) {
        uint32_t offset = headerLength;
        uint32_t left = size - headerLength;
        while (left) {
            uint32_t piece = left < kBlockSize ? left : kBlockSize;
            const uint8_t* data =
                offset <= 0x7FFFFFFFu ? file->ReadAt(piece, int32_t(offset)) : nullptr;
            if (!data || !AppendBlock(data, piece)) {
                // Out of memory: a track cut short would play out of step, so none is kept.
                FreeBlocks();
                result = false;
                break;
            }
            offset += piece;
            left -= piece;
        }
    }
    file->Close();
    return result;
}
