// Wave audio service: the wave-in and wave-out devices of the system's mapper, buffer hand-over
// and the device notifications.
//
// Notifications come on a thread of the audio layer, one per open device, never on the thread
// that opened it and never inside a driver's own callback, so a notification may call the
// service. The buffers that WaveInReset/WaveOutReset hand back are reported before the reset
// returns, on the caller's thread or the audio layer's. A buffer written to the output device can
// also be reported from inside WaveOutQueue, on the caller's thread, when it completes at once (an
// empty buffer with nothing ahead of it); then it may be reported before a buffer written
// earlier. Callers holding a lock of their own across WaveOutQueue must therefore let the
// notification take it again.
//
// Inside a notification a device may be given buffers, but never reset or closed: a device that
// ends itself is closed later by the thread that opened it.
#pragma once

#include <cstdint>

// Notification messages and header flags, for code that does not see <mmsystem.h>.
#ifndef WIM_DATA
#define WOM_OPEN 0x3BB
#define WOM_CLOSE 0x3BC
#define WOM_DONE 0x3BD
#define WIM_OPEN 0x3BE
#define WIM_CLOSE 0x3BF
#define WIM_DATA 0x3C0
#define WHDR_DONE 0x01
#define WHDR_PREPARED 0x02
#define WHDR_INQUEUE 0x10
#endif
#ifndef WAVE_FORMAT_PCM
#define WAVE_FORMAT_PCM 1
#endif

namespace platform {

// The wave format of a device, as PCM describes it.
struct WaveFormat {
    uint16_t formatTag;
    uint16_t channels;
    uint32_t samplesPerSecond;
    uint32_t averageBytesPerSecond;
    uint16_t blockAlign;
    uint16_t bitsPerSample;
};

// A buffer handed to a device. The layout is the system's own wave header, so the Win32 service
// passes it through untouched; the device writes `bytesRecorded` and `flags` while it holds it.
struct WaveHeader {
    char* data;
    uint32_t bufferLength;
    uint32_t bytesRecorded;
    uintptr_t user;
    uint32_t flags;
    uint32_t loops;
    WaveHeader* next;
    uintptr_t reserved;
};

struct WaveInDevice;
struct WaveOutDevice;
typedef WaveInDevice* WaveIn;    // null: no device
typedef WaveOutDevice* WaveOut;  // null: no device

// Called with the device (as opened), the message (WIM_* or WOM_*) and the message's two
// parameters; for WIM_DATA and WOM_DONE the first is the WaveHeader* coming back.
typedef void (*WaveCallback)(void* device, uint32_t message, uintptr_t param1, uintptr_t param2);

uint32_t WaveInCount();
uint32_t WaveOutCount();
// 1 when the mapper accepts the format in that direction; nothing is left open.
int WaveInSupports(const WaveFormat* format);
int WaveOutSupports(const WaveFormat* format);

// Opens the mapper with the format; null on failure. The callback is called on the audio layer's
// thread (see above) until the device is closed.
WaveIn WaveInOpen(const WaveFormat* format, WaveCallback callback);
WaveOut WaveOutOpen(const WaveFormat* format, WaveCallback callback);

// Prepares the header and hands it to the device: to be filled (input; capture begins with
// WaveInStart) or played at once after the buffers already written (output). 1 when both
// steps succeeded; when the device refused the buffer, the header may still be prepared.
int WaveInQueue(WaveIn device, WaveHeader* header);
int WaveOutQueue(WaveOut device, WaveHeader* header);
int WaveInStart(WaveIn device);
// Bytes captured since WaveInStart, including any that found no buffer to go to. 1 on success.
int WaveInPosition(WaveIn device, uint32_t* bytes);
// Output: holds the playback where it is, silent, until WaveOutRestart goes on from there.
// 1 on success.
int WaveOutPause(WaveOut device);
int WaveOutRestart(WaveOut device);
// Stops the device and hands back every buffer it holds (see above for the thread).
int WaveInReset(WaveIn device);
int WaveOutReset(WaveOut device);
// Undoes the preparation of a header the device has handed back. 1 on success.
int WaveInRelease(WaveIn device, WaveHeader* header);
int WaveOutRelease(WaveOut device, WaveHeader* header);
// Fails (0) while the device still holds buffers.
int WaveInClose(WaveIn device);
int WaveOutClose(WaveOut device);

// Memory for buffer data. Null when none is left.
void* WaveAllocate(uint32_t size);
void WaveFree(void* data);

}  // namespace platform
