// SoundRecorder: devices, the block chain and the two device notifications.
//
// Locking. One recursive lock guards the recorder's fields. The notifications take it for each
// block step; the owner's calls take it around their bookkeeping and around Stop's position read
// and `stopping` flag. It is never held across a device open, reset or close: those wait for the
// audio layer's thread, which may be waiting for the lock inside a notification. It is held across
// WaveInQueue/WaveOutQueue, so a buffer that completes inside the call is reported to a caller that
// already holds it (hence recursive); every field is brought up to date before such a call.
#include "sound/sound_recorder.h"

#include <string.h>

#include <mutex>
#include <new>

#include "storage/file_buffer.h"

namespace {

const int32_t kAhead = 2;  // blocks in the device at a time
const char kDefaultSignature[] = "Pellomar v1.0";

std::recursive_mutex& RecorderLock() {
    static std::recursive_mutex lock;
    return lock;
}

typedef std::lock_guard<std::recursive_mutex> Guard;

// The recorder that the device notifications reach; guarded by RecorderLock.
SoundRecorder* soundRecorderInstance = nullptr;

void FreeBlock(AudioBlock* block) {
    platform::WaveFree(block->header->data);
    delete block->header;
    delete block;
}

}  // namespace

SoundRecorder::SoundRecorder(const char* signature_)
    : format(new platform::WaveFormat()),
      head(nullptr),
      cursor(nullptr),
      waveIn(nullptr),
      waveOut(nullptr),
      inputAvailable(false),
      outputAvailable(false),
      stopping(false),
      file(nullptr),
      signature(kDefaultSignature),
      pending(nullptr),
      inDevice(0),
      captureEnded(false),
      playedOut(nullptr) {
    {
        Guard guard(RecorderLock());
        soundRecorderInstance = this;
    }
    format->formatTag = WAVE_FORMAT_PCM;
    format->channels = 1;
    format->samplesPerSecond = 22050;
    format->averageBytesPerSecond = 22050;
    format->blockAlign = 1;
    format->bitsPerSample = 8;
    ProbeDevice(Direction::Input);
    ProbeDevice(Direction::Output);
    file = new FileBuffer();
    if (signature_ && signature_[0])
        signature = signature_;
}

SoundRecorder::~SoundRecorder() {
    Stop(0);
    {
        Guard guard(RecorderLock());
        if (soundRecorderInstance == this)
            soundRecorderInstance = nullptr;
    }
    FreeBlocks();
    delete format;
    delete file;
}

bool SoundRecorder::ProbeDevice(Direction direction) {
    bool input = direction == Direction::Input;
    bool available = input ? platform::WaveInCount() > 0 && platform::WaveInSupports(format)
                           : platform::WaveOutCount() > 0 && platform::WaveOutSupports(format);
    (input ? inputAvailable : outputAvailable) = available;
    return available;
}

bool SoundRecorder::OpenDevice(Direction direction) {
    CloseFinishedOutput();
    bool opened = false;
    if (direction == Direction::Input && inputAvailable) {
        platform::WaveIn device = platform::WaveInOpen(format, WaveInCallback);
        Guard guard(RecorderLock());
        waveIn = device;
        opened = device != nullptr;
    } else if (direction == Direction::Output && outputAvailable) {
        platform::WaveOut device = platform::WaveOutOpen(format, WaveOutCallback);
        Guard guard(RecorderLock());
        waveOut = device;
        opened = device != nullptr;
    }
    Guard guard(RecorderLock());
    stopping = false;
    return opened;
}

bool SoundRecorder::IsAvailable() const {
    return inputAvailable && outputAvailable;
}

bool SoundRecorder::StartRecording() {
    {
        Guard guard(RecorderLock());
        if (waveIn || waveOut)
            return false;
    }
    Clear();
    if (!OpenDevice(Direction::Input))
        return false;
    platform::WaveIn device;
    {
        Guard guard(RecorderLock());
        pending = nullptr;
        inDevice = 0;
        captureEnded = false;
        for (int32_t i = 0; i < kAhead && QueueCaptureBlock(); ++i) {
        }
        device = waveIn;
    }
    if (HasSound())
        return platform::WaveInStart(device) != 0;
    // Not even one block to capture into.
    platform::WaveInClose(device);
    Guard guard(RecorderLock());
    waveIn = nullptr;
    return false;
}

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

bool SoundRecorder::StartPlayback() {
    {
        Guard guard(RecorderLock());
        if (waveIn || waveOut || !head)
            return false;
        cursor = head;
        pending = nullptr;
        inDevice = 0;
    }
    if (!OpenDevice(Direction::Output))
        return false;
    Guard guard(RecorderLock());
    QueuePlaybackBlock();
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

void SoundRecorder::CloseFinishedOutput() {
    platform::WaveOut device;
    {
        Guard guard(RecorderLock());
        device = playedOut;
        playedOut = nullptr;
    }
    // Without the lock: the close lets a notification still returning finish first.
    if (device)
        platform::WaveOutClose(device);
}

void SoundRecorder::Stop(bool fromDevice) {
    CloseFinishedOutput();
    platform::WaveIn input = nullptr;
    platform::WaveOut output = nullptr;
    uint32_t position = 0;
    bool havePosition = false;
    {
        Guard guard(RecorderLock());
        if (waveIn) {
            input = waveIn;
            havePosition = platform::WaveInPosition(input, &position) != 0;
            stopping = true;
        } else if (waveOut) {
            output = waveOut;
            stopping = true;
        } else {
            return;
        }
    }
    // With `stopping` set no notification touches the chain or the device any more, so the
    // reset and the close run without the lock.
    if (input) {
        platform::WaveInReset(input);
        {
            Guard guard(RecorderLock());
            SettleCapture(position, havePosition);
        }
        platform::WaveInClose(input);
        Guard guard(RecorderLock());
        waveIn = nullptr;
        return;
    }
    platform::WaveOutReset(output);
    {
        Guard guard(RecorderLock());
        for (AudioBlock* block = pending; block && inDevice; block = block->next) {
            if (block->inDevice) {
                platform::WaveOutRelease(output, block->header);
                block->inDevice = false;
                inDevice--;
            }
        }
        pending = nullptr;
        inDevice = 0;
    }
    platform::WaveOutClose(output);
    Guard guard(RecorderLock());
    waveOut = nullptr;
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

void SoundRecorder::Clear() {
    {
        Guard guard(RecorderLock());
        if (waveIn || waveOut || !head)
            return;
    }
    FreeBlocks();
}

bool SoundRecorder::IsRecording() {
    Guard guard(RecorderLock());
    return waveIn != nullptr;
}

bool SoundRecorder::IsPlaying() {
    Guard guard(RecorderLock());
    return waveOut != nullptr;
}

bool SoundRecorder::HasSound() {
    Guard guard(RecorderLock());
    return head != nullptr;
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
    if (!head) {
        head = block;
    } else {
        cursor->next = block;
    }
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
