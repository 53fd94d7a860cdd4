// Win32 wave service over waveIn*/waveOut* on the wave mapper. The system's documentation forbids
// calling wave functions from inside a driver's callback function (drivers may deadlock), so
// each open device signals an event (CALLBACK_EVENT) and a thread of our own reports the buffers
// that came back: the notifications, and whatever they hand the device, run outside the driver.
#include <windows.h>
#include <mmsystem.h>

#include <cstddef>
#include <cstdlib>
#include <new>

#include "platform/wave.h"
#include "platform/win32/report.h"
#include "platform/win32/scoped.h"

// WaveHeader is handed to the system as its own header, field for field.
static_assert(sizeof(platform::WaveHeader) == sizeof(WAVEHDR), "WaveHeader size");
static_assert(offsetof(platform::WaveHeader, data) == offsetof(WAVEHDR, lpData), "lpData");
static_assert(offsetof(platform::WaveHeader, bufferLength) == offsetof(WAVEHDR, dwBufferLength),
              "dwBufferLength");
static_assert(offsetof(platform::WaveHeader, bytesRecorded) == offsetof(WAVEHDR, dwBytesRecorded),
              "dwBytesRecorded");
static_assert(offsetof(platform::WaveHeader, user) == offsetof(WAVEHDR, dwUser), "dwUser");
static_assert(offsetof(platform::WaveHeader, flags) == offsetof(WAVEHDR, dwFlags), "dwFlags");
static_assert(offsetof(platform::WaveHeader, loops) == offsetof(WAVEHDR, dwLoops), "dwLoops");
static_assert(offsetof(platform::WaveHeader, next) == offsetof(WAVEHDR, lpNext), "lpNext");
static_assert(offsetof(platform::WaveHeader, reserved) == offsetof(WAVEHDR, reserved), "reserved");

namespace platform {

// One open device: the system's handle, the buffers handed to it in order, and the thread that
// reports them back. Deleting it ends that thread (a notification still running finishes
// first), then lets go of the locks and events that the thread uses; the system's device is
// closed before.
struct WaveDevice {
    ~WaveDevice() {
        if (thread)
            SetEvent(quit.Get());
    }

    bool input = false;
    HANDLE system = nullptr;  // HWAVEIN or HWAVEOUT
    WaveCallback callback = nullptr;
    win32::ScopedHandle signal;  // set by the driver when a buffer is done (and at open and close)
    win32::ScopedHandle quit;
    // Guards `queued`; never held while calling out.
    win32::CriticalSection queueLock;
    // One report at a time, the thread's or a reset's, so buffers come back in order.
    win32::CriticalSection reportLock;
    WaveHeader* queued[16] = {};
    size_t first = 0;
    size_t count = 0;
    win32::JoinedThread thread;  // last: ended first
};

struct WaveInDevice : WaveDevice {};
struct WaveOutDevice : WaveDevice {};

namespace {

// The wave calls answer with a result code; a refusal is also told to a listening debugger.
MMRESULT Checked(const char* call, MMRESULT result) {
    if (result != MMSYSERR_NOERROR)
        win32::ReportWaveFailure(call, result, nullptr);
    return result;
}

const size_t kMostQueued = sizeof(WaveDevice::queued) / sizeof(WaveDevice::queued[0]);

WAVEFORMATEX ToSystem(const WaveFormat* format) {
    WAVEFORMATEX f = {};
    f.wFormatTag = format->formatTag;
    f.nChannels = format->channels;
    f.nSamplesPerSec = format->samplesPerSecond;
    f.nAvgBytesPerSec = format->averageBytesPerSecond;
    f.nBlockAlign = format->blockAlign;
    f.wBitsPerSample = format->bitsPerSample;
    f.cbSize = 0;
    return f;
}

WAVEHDR* System(WaveHeader* header) {
    return reinterpret_cast<WAVEHDR*>(header);
}

// Hands every buffer at the front of the queue that the device is done with to the callback.
void Report(WaveDevice* device) {
    win32::Locked reporting(device->reportLock);
    for (;;) {
        WaveHeader* done = nullptr;
        {
            win32::Locked queueHeld(device->queueLock);
            if (device->count && (device->queued[device->first]->flags & WHDR_DONE)) {
                done = device->queued[device->first];
                device->first = (device->first + 1) % kMostQueued;
                device->count--;
            }
        }
        if (!done)
            break;
        device->callback(device, device->input ? WIM_DATA : WOM_DONE,
                         reinterpret_cast<uintptr_t>(done), 0);
    }
}

DWORD WINAPI NotificationThread(void* parameter) {
    WaveDevice* device = static_cast<WaveDevice*>(parameter);
    HANDLE quitOrSignal[2] = {device->quit.Get(), device->signal.Get()};
    while (WaitForMultipleObjects(2, quitOrSignal, FALSE, INFINITE) == WAIT_OBJECT_0 + 1)
        Report(device);
    return 0;
}

template <typename Device>
Device* Open(bool input, const WaveFormat* format, WaveCallback callback) {
    Device* device = new (std::nothrow) Device();
    if (!device)
        return nullptr;
    device->input = input;
    device->callback = callback;
    device->signal.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    device->quit.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    WAVEFORMATEX f = ToSystem(format);
    MMRESULT opened = MMSYSERR_ERROR;
    if (device->signal && device->quit) {
        DWORD_PTR signal = reinterpret_cast<DWORD_PTR>(device->signal.Get());
        if (input) {
            HWAVEIN system = nullptr;
            opened = Checked("waveInOpen",
                             waveInOpen(&system, WAVE_MAPPER, &f, signal, 0, CALLBACK_EVENT));
            device->system = system;
        } else {
            HWAVEOUT system = nullptr;
            opened = Checked("waveOutOpen",
                             waveOutOpen(&system, WAVE_MAPPER, &f, signal, 0, CALLBACK_EVENT));
            device->system = system;
        }
    }
    if (opened != MMSYSERR_NOERROR) {
        delete device;
        return nullptr;
    }
    device->thread.Start(NotificationThread, device);
    if (!device->thread) {
        if (input)
            Checked("waveInClose", waveInClose(static_cast<HWAVEIN>(device->system)));
        else
            Checked("waveOutClose", waveOutClose(static_cast<HWAVEOUT>(device->system)));
        delete device;
        return nullptr;
    }
    // Late notifications are gaps in the sound.
    SetThreadPriority(device->thread.Get(), THREAD_PRIORITY_HIGHEST);
    return device;
}

// The buffer goes in the queue before the device has it, since it may come back at once.
bool Enqueue(WaveDevice* device, WaveHeader* header) {
    win32::Locked queueHeld(device->queueLock);
    bool room = device->count < kMostQueued;
    if (room) {
        device->queued[(device->first + device->count) % kMostQueued] = header;
        device->count++;
    }
    return room;
}

// Takes back the buffer just queued when the device refused it.
void Unqueue(WaveDevice* device, WaveHeader* header) {
    win32::Locked queueHeld(device->queueLock);
    size_t last = (device->first + device->count - 1) % kMostQueued;
    if (device->count && device->queued[last] == header)
        device->count--;
}

bool HoldsBuffers(WaveDevice* device) {
    win32::Locked queueHeld(device->queueLock);
    return device->count != 0;
}

int Close(WaveDevice* device, MMRESULT closed) {
    if (closed != MMSYSERR_NOERROR)
        return 0;  // the device stays as it was
    delete device;
    return 1;
}

}  // namespace

uint32_t WaveInCount() {
    return waveInGetNumDevs();
}
uint32_t WaveOutCount() {
    return waveOutGetNumDevs();
}

int WaveInSupports(const WaveFormat* format) {
    WAVEFORMATEX f = ToSystem(format);
    return Checked("waveInOpen", waveInOpen(nullptr, WAVE_MAPPER, &f, 0, 0, WAVE_FORMAT_QUERY)) ==
           MMSYSERR_NOERROR;
}

int WaveOutSupports(const WaveFormat* format) {
    WAVEFORMATEX f = ToSystem(format);
    return Checked("waveOutOpen", waveOutOpen(nullptr, WAVE_MAPPER, &f, 0, 0, WAVE_FORMAT_QUERY)) ==
           MMSYSERR_NOERROR;
}

WaveIn WaveInOpen(const WaveFormat* format, WaveCallback callback) {
    return Open<WaveInDevice>(true, format, callback);
}

WaveOut WaveOutOpen(const WaveFormat* format, WaveCallback callback) {
    return Open<WaveOutDevice>(false, format, callback);
}

int WaveInQueue(WaveIn device, WaveHeader* header) {
    HWAVEIN h = static_cast<HWAVEIN>(device->system);
    if (Checked("waveInPrepareHeader", waveInPrepareHeader(h, System(header), sizeof(WAVEHDR))) !=
        MMSYSERR_NOERROR)
        return 0;
    if (Enqueue(device, header) &&
        Checked("waveInAddBuffer", waveInAddBuffer(h, System(header), sizeof(WAVEHDR))) ==
            MMSYSERR_NOERROR)
        return 1;
    Unqueue(device, header);
    return 0;
}

int WaveOutQueue(WaveOut device, WaveHeader* header) {
    HWAVEOUT h = static_cast<HWAVEOUT>(device->system);
    if (Checked("waveOutPrepareHeader", waveOutPrepareHeader(h, System(header), sizeof(WAVEHDR))) !=
        MMSYSERR_NOERROR)
        return 0;
    if (Enqueue(device, header) &&
        Checked("waveOutWrite", waveOutWrite(h, System(header), sizeof(WAVEHDR))) ==
            MMSYSERR_NOERROR)
        return 1;
    Unqueue(device, header);
    return 0;
}

int WaveInStart(WaveIn device) {
    return Checked("waveInStart", waveInStart(static_cast<HWAVEIN>(device->system))) ==
           MMSYSERR_NOERROR;
}

int WaveInPosition(WaveIn device, uint32_t* bytes) {
    MMTIME time = {};
    time.wType = TIME_BYTES;
    if (waveInGetPosition(static_cast<HWAVEIN>(device->system), &time, sizeof time) !=
            MMSYSERR_NOERROR ||
        time.wType != TIME_BYTES)
        return 0;  // a driver that cannot count bytes leaves the count to the buffers
    *bytes = time.u.cb;
    return 1;
}

// The buffers a reset hands back are reported on the caller's thread before it returns.
int WaveInReset(WaveIn device) {
    int reset = Checked("waveInReset", waveInReset(static_cast<HWAVEIN>(device->system))) ==
                MMSYSERR_NOERROR;
    Report(device);
    return reset;
}

int WaveOutPause(WaveOut device) {
    return waveOutPause(static_cast<HWAVEOUT>(device->system)) == MMSYSERR_NOERROR;
}

int WaveOutRestart(WaveOut device) {
    return waveOutRestart(static_cast<HWAVEOUT>(device->system)) == MMSYSERR_NOERROR;
}

int WaveOutReset(WaveOut device) {
    int reset = Checked("waveOutReset", waveOutReset(static_cast<HWAVEOUT>(device->system))) ==
                MMSYSERR_NOERROR;
    Report(device);
    return reset;
}

int WaveInRelease(WaveIn device, WaveHeader* header) {
    return Checked("waveInUnprepareHeader",
                   waveInUnprepareHeader(static_cast<HWAVEIN>(device->system), System(header),
                                         sizeof(WAVEHDR))) == MMSYSERR_NOERROR;
}

int WaveOutRelease(WaveOut device, WaveHeader* header) {
    return Checked("waveOutUnprepareHeader",
                   waveOutUnprepareHeader(static_cast<HWAVEOUT>(device->system), System(header),
                                          sizeof(WAVEHDR))) == MMSYSERR_NOERROR;
}

// Not every driver refuses to close while it holds buffers (Wine's does not): the service does.
int WaveInClose(WaveIn device) {
    if (HoldsBuffers(device))
        return 0;
    return Close(device, Checked("waveInClose", waveInClose(static_cast<HWAVEIN>(device->system))));
}

int WaveOutClose(WaveOut device) {
    if (HoldsBuffers(device))
        return 0;
    return Close(device,
                 Checked("waveOutClose", waveOutClose(static_cast<HWAVEOUT>(device->system))));
}

void* WaveAllocate(uint32_t size) {
    return malloc(size ? size : 1);
}

void WaveFree(void* data) {
    free(data);
}

}  // namespace platform
