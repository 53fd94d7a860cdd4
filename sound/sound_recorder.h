// The companion audio track: 8-bit mono PCM at 22050 Hz, captured while the journal records and
// played while it plays back, kept as a chain of 1 MiB blocks and stored beside the journal file.
//
// The device notifications run on the audio layer's thread; one process-wide lock serialises
// them with the owner's calls (see sound_recorder.cpp). Two blocks are in the device at a time,
// so that capture never waits for a block to be queued and playback never waits for one to be
// written.
#pragma once

#include <cstdint>

#include "platform/wave.h"
#include "storage/file_buffer.h"

// A journal and the sound file beside it come from one recording: once a journal has been saved
// without writing its sound file, the one still there belongs to the journal it replaced, and
// goes. True when there is no sound file beside the journal afterwards.
bool RemoveSoundFile(const char* journalFileName);

// One wave buffer with its own data area of SoundRecorder::kBlockSize bytes; the link record, the
// header and the data area are separate allocations.
struct AudioBlock {
    platform::WaveHeader* header;
    AudioBlock* next;
    bool inDevice;  // handed to the device and not yet back
};

class SoundRecorder {
  public:
    static const uint32_t kBlockSize = 1048576;

    explicit SoundRecorder(const char* signature);
    // Stops a capture or playback still running, then frees the chain.
    virtual ~SoundRecorder();

    bool IsAvailable() const;
    // True when capture or playback runs afterwards.
    bool StartRecording();
    bool StartPlayback();
    // Resets and closes the running device. The end of a played-out chain is handled inside the
    // device's own notification, so `fromDevice` changes nothing for the owner's calls.
    void Stop(bool fromDevice);
    // Holds a running playback where it is (`paused`), or goes on from there.
    void PausePlayback(bool paused);
    // Frees the chain when idle.
    void Clear();
    bool IsRecording();
    bool IsPlaying();
    bool HasSound();
    // True when the sound file was written, or read (with or without sound in it).
    bool Save(const char* journalFileName);
    // Leaves the recorder without sound, rather than with another recording's, when the sound
    // file is older than the journal (see RemoveSoundFile). False without a sound file too.
    bool Load(const char* journalFileName);
    // Why the last Save or Load failed; nothing failed for a missing sound file.
    const FileFailure& GetFailure() const { return failure; }

    SoundRecorder(const SoundRecorder&) = delete;
    SoundRecorder& operator=(const SoundRecorder&) = delete;

  private:
    // Steps marked "locked" run with the recorder lock held.
    enum class Direction { Output, Input };
    bool ProbeDevice(Direction direction);
    bool OpenDevice(Direction direction);
    bool QueueCaptureBlock();   // locked
    void QueuePlaybackBlock();  // locked
    platform::WaveHeader* AppendBlock(const void* data, uint32_t length);
    void FreeBlocks();
    void TrimAfter(AudioBlock* last);
    AudioBlock* FindInDevice(const platform::WaveHeader* header);  // locked
    void AdvancePending();                                         // locked
    void CaptureBlockReturned(platform::WaveHeader* header);       // locked
    void PlaybackBlockReturned(platform::WaveHeader* header);      // locked
    void SettleCapture(uint32_t position, bool havePosition);      // locked
    void AbandonCapture();                                         // locked
    void EndPlayback();                                            // locked
    void CloseFinishedOutput();

    static void WaveInCallback(void* device, uint32_t message, uintptr_t param1, uintptr_t param2);
    static void WaveOutCallback(void* device, uint32_t message, uintptr_t param1, uintptr_t param2);

    platform::WaveFormat* format;
    AudioBlock* head;
    // Capture and Load: the last block. Playback: the next block to write, null past the end.
    AudioBlock* cursor;
    platform::WaveIn waveIn;
    platform::WaveOut waveOut;
    bool inputAvailable;
    bool outputAvailable;
    bool stopping;
    FileBuffer* file;
    FileFailure failure;
    const char* signature;
    // The oldest block in the device (null when none) and how many are there.
    AudioBlock* pending;
    int32_t inDevice;
    // Set when a capture block could not be made or queued: the blocks already queued are
    // filled, nothing more is captured until the next start.
    bool captureEnded;
    // The output device of a chain that played to its end. It may not be closed inside its own
    // notification: the owner's next start, Stop or the destructor closes it.
    platform::WaveOut playedOut;
};

// The one recorder of the process: the device notifications reach it through this pointer,
// under the recorder lock (sound_lock.h).
extern SoundRecorder* soundRecorderInstance;
