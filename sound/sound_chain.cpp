// The sound recorder's block chain and its two device notifications: capture appends and queues
// a block as each one comes back full, playback writes the next as each one has played, two
// blocks in the device at a time so that neither waits at a block's end.
#include <cstring>

#include <new>

#include "sound/sound_lock.h"
#include "sound/sound_recorder.h"

using sound::Guard;
using sound::kAhead;
using sound::RecorderLock;

namespace {

void FreeBlock(AudioBlock* block) {
    platform::WaveFree(block->header->data);
    delete block->header;
    delete block;
}

}  // namespace

bool SoundRecorder::QueueCaptureBlock() {
    if (stopping || captureEnded)
        return false;
    AudioBlock* previous = cursor;
    platform::WaveHeader* header = AppendBlock(nullptr, 0);
    if (!header) {
        captureEnded = true;
        return false;
    }
    cursor->inDevice = true;
    inDevice++;
    if (!pending)
        pending = cursor;
    if (!platform::WaveInQueue(waveIn, header)) {
        // A block the device will never fill would leave a hole in the chain.
        platform::WaveInRelease(waveIn, header);
        inDevice--;
        cursor->inDevice = false;
        TrimAfter(previous);
        AdvancePending();
        captureEnded = true;
        return false;
    }
    return true;
}

void SoundRecorder::QueuePlaybackBlock() {
    if (stopping)
        return;
    while (cursor && inDevice < kAhead) {
        AudioBlock* block = cursor;
        platform::WaveHeader* header = block->header;
        header->bufferLength = header->bytesRecorded;
        header->flags = 0;
        cursor = block->next;
        block->inDevice = true;
        inDevice++;
        if (!pending)
            pending = block;
        platform::WaveOut device = waveOut;
        int32_t written = platform::WaveOutQueue(device, header);
        if (waveOut != device || stopping)
            return;  // ended or stopped from a notification inside the write
        if (!written && block->inDevice) {
            // Refused: skip the block rather than wait for it forever.
            platform::WaveOutRelease(device, header);
            block->inDevice = false;
            inDevice--;
            AdvancePending();
        }
    }
    if (!cursor && inDevice == 0 && waveOut)
        EndPlayback();
}

void SoundRecorder::EndPlayback() {
    // Reached inside the device's own notification (or inside a write on the main thread), where
    // it may not be closed: see CloseFinishedOutput.
    playedOut = waveOut;
    waveOut = nullptr;
    pending = nullptr;
}

void SoundRecorder::SettleCapture(uint32_t position, bool havePosition) {
    // Blocks before `pending` came back full through the notification. The ones still in the device
    // when the flag was set take their counts from the position, in chain order: the first keeps
    // whatever it holds (it is the last block, also when empty), a queued-ahead block stays only
    // when sound reached it.
    uint64_t before = 0;
    for (AudioBlock* block = head; block && block != pending; block = block->next)
        before += block->header->bytesRecorded;
    AudioBlock* last = pending ? pending : cursor;
    for (AudioBlock* block = pending; block; block = block->next) {
        // Never more than the device put there: a position that ran ahead would count stale bytes.
        uint64_t count = block->header->bytesRecorded;
        if (havePosition && position < before + count)
            count = position > before ? position - before : 0;
        if (count > kBlockSize)
            count = kBlockSize;
        block->header->bytesRecorded = uint32_t(count);
        before += count;
        if (block->inDevice) {
            platform::WaveInRelease(waveIn, block->header);
            block->inDevice = false;
        }
        if (count)
            last = block;
    }
    TrimAfter(last);
    pending = nullptr;
    inDevice = 0;
}

void SoundRecorder::AbandonCapture() {
    // The device still holds the blocks from `pending` on and may go on writing into them: they
    // leave the chain and are never released nor freed. Their memory is lost, and so is the
    // device, which cannot be closed while it holds them.
    AudioBlock* last = nullptr;
    for (AudioBlock* block = head; block && block != pending; block = block->next)
        last = block;
    if (last)
        last->next = nullptr;
    else
        head = nullptr;
    cursor = last;
    pending = nullptr;
    inDevice = 0;
}

platform::WaveHeader* SoundRecorder::AppendBlock(const void* data, uint32_t length) {
    if (length > kBlockSize)
        length = kBlockSize;
    AudioBlock* block = new (std::nothrow) AudioBlock();
    platform::WaveHeader* header = new (std::nothrow) platform::WaveHeader();
    void* area = platform::WaveAllocate(kBlockSize);
    if (!block || !header || !area) {
        platform::WaveFree(area);
        delete header;
        delete block;
        return nullptr;
    }
    header->data = static_cast<char*>(area);
    header->bufferLength = kBlockSize;
    if (length)
        memcpy(area, data, length);
    header->bytesRecorded = length;
    header->flags = 0;
    header->loops = 0;
    header->next = nullptr;
    block->header = header;
    block->next = nullptr;
    block->inDevice = false;
    Guard guard(RecorderLock());
    if (!head)
        head = block;
    else
        cursor->next = block;
    cursor = block;
    return header;
}

void SoundRecorder::FreeBlocks() {
    TrimAfter(nullptr);
}

void SoundRecorder::TrimAfter(AudioBlock* last) {
    Guard guard(RecorderLock());
    AudioBlock* block = last ? last->next : head;
    if (last)
        last->next = nullptr;
    else
        head = nullptr;
    cursor = last;
    while (block) {
        AudioBlock* next = block->next;
        FreeBlock(block);
        block = next;
    }
}

AudioBlock* SoundRecorder::FindInDevice(const platform::WaveHeader* header) {
    int32_t seen = 0;
    for (AudioBlock* block = pending; block && seen < inDevice; block = block->next) {
        if (!block->inDevice)
            continue;
        if (block->header == header)
            return block;
        seen++;
    }
    return nullptr;
}

void SoundRecorder::AdvancePending() {
    if (!inDevice) {
        pending = nullptr;
        return;
    }
    while (pending && !pending->inDevice)
        pending = pending->next;
}

void SoundRecorder::CaptureBlockReturned(platform::WaveHeader* header) {
    AudioBlock* block = FindInDevice(header);
    if (!block)
        return;
    block->inDevice = false;
    inDevice--;
    platform::WaveInRelease(waveIn, header);
    AdvancePending();
    QueueCaptureBlock();
}

void SoundRecorder::PlaybackBlockReturned(platform::WaveHeader* header) {
    AudioBlock* block = FindInDevice(header);
    if (!block)
        return;
    block->inDevice = false;
    inDevice--;
    platform::WaveOutRelease(waveOut, header);
    AdvancePending();
    QueuePlaybackBlock();
}

void SoundRecorder::WaveInCallback(void* device, uint32_t message, uintptr_t param1,
                                   uintptr_t param2) {
    if (message != WIM_DATA)
        return;
    Guard guard(RecorderLock());
    SoundRecorder* recorder = soundRecorderInstance;
    // A buffer from a device already stopped, or handed back by the reset, is not a step.
    if (!recorder || recorder->stopping || device != recorder->waveIn)
        return;
    recorder->CaptureBlockReturned(reinterpret_cast<platform::WaveHeader*>(param1));
}

void SoundRecorder::WaveOutCallback(void* device, uint32_t message, uintptr_t param1,
                                    uintptr_t param2) {
    if (message != WOM_DONE)
        return;
    Guard guard(RecorderLock());
    SoundRecorder* recorder = soundRecorderInstance;
    if (!recorder || recorder->stopping || device != recorder->waveOut)
        return;
    recorder->PlaybackBlockReturned(reinterpret_cast<platform::WaveHeader*>(param1));
}
