// SoundRecorder: the devices and the owner's operations. The block chain and the device
// notifications are in sound_chain.cpp; both sides take the recorder lock (sound_lock.h).
#include "sound/sound_recorder.h"

#include "sound/sound_lock.h"
#include "storage/file_buffer.h"

SoundRecorder* soundRecorderInstance = nullptr;

using sound::Guard;
using sound::kAhead;
using sound::RecorderLock;

namespace {

const char kDefaultSignature[] = "Pellomar v1.0";
// A driver that refuses a reset this often is not going to hand its buffers back.
const int kResetAttempts = 3;

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

void SoundRecorder::PausePlayback(bool paused) {
    platform::WaveOut output;
    {
        Guard guard(RecorderLock());
        output = waveOut;
    }
    // Without the lock, as every call on a device that may be notifying. A chain that played to
    // its end meanwhile has left the device open, so the call still finds it.
    if (output) {
        if (paused)
            platform::WaveOutPause(output);
        else
            platform::WaveOutRestart(output);
    }
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
        }
    }
    if (!input && !output) {
        // A chain may have played to its end since the close above; seen idle under the lock,
        // its device can only be waiting in playedOut now.
        CloseFinishedOutput();
        return;
    }
    // With `stopping` set no notification touches the chain or the device any more, so the
    // reset and the close run without the lock.
    if (input) {
        // A refused reset leaves the buffers with the driver; it is asked again before any of
        // them is touched.
        bool reset = false;
        for (int attempt = 0; attempt < kResetAttempts && !reset; ++attempt)
            reset = platform::WaveInReset(input) != 0;
        {
            Guard guard(RecorderLock());
            if (reset)
                SettleCapture(position, havePosition);
            else
                AbandonCapture();
        }
        if (reset)
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
