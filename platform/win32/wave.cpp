// Win32 wave service over waveIn*/waveOut* on the wave mapper, with function callbacks.
#include <windows.h>
#include <mmsystem.h>
#include <stddef.h>
#include <stdlib.h>

#include <atomic>

#include "platform/wave.h"

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

namespace {

const UINT kCloseDevice = WM_APP + 1;  // wParam: the HWAVEOUT
const char kDeferClass[] = "WaveServiceDeferred";

// A message-only window of the thread that opened the output devices: closes that a notification
// asks for are posted here and run from that thread's message loop.
std::atomic<HWND> deferWindow(nullptr);

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

// The system calls back with its own calling convention; the instance value carries ours.
void CALLBACK InProc(HWAVEIN device, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                     DWORD_PTR param2) {
    reinterpret_cast<WaveCallback>(instance)(device, message, param1, param2);
}

void CALLBACK OutProc(HWAVEOUT device, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                      DWORD_PTR param2) {
    reinterpret_cast<WaveCallback>(instance)(device, message, param1, param2);
}

LRESULT CALLBACK DeferProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kCloseDevice) {
        waveOutClose(reinterpret_cast<HWAVEOUT>(wParam));
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void MakeDeferWindow() {
    if (deferWindow.load())
        return;
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = DeferProc;
    wc.hInstance = instance;
    wc.lpszClassName = kDeferClass;
    RegisterClassExA(&wc);  // fails harmlessly when already registered
    deferWindow.store(CreateWindowExA(0, kDeferClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      instance, nullptr));
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
    return waveInOpen(nullptr, WAVE_MAPPER, &f, 0, 0, WAVE_FORMAT_QUERY) == MMSYSERR_NOERROR;
}

int WaveOutSupports(const WaveFormat* format) {
    WAVEFORMATEX f = ToSystem(format);
    return waveOutOpen(nullptr, WAVE_MAPPER, &f, 0, 0, WAVE_FORMAT_QUERY) == MMSYSERR_NOERROR;
}

WaveIn WaveInOpen(const WaveFormat* format, WaveCallback callback) {
    WAVEFORMATEX f = ToSystem(format);
    HWAVEIN device = nullptr;
    if (waveInOpen(&device, WAVE_MAPPER, &f, reinterpret_cast<DWORD_PTR>(InProc),
                   reinterpret_cast<DWORD_PTR>(callback), CALLBACK_FUNCTION) != MMSYSERR_NOERROR)
        return nullptr;
    return reinterpret_cast<WaveIn>(device);
}

WaveOut WaveOutOpen(const WaveFormat* format, WaveCallback callback) {
    MakeDeferWindow();
    WAVEFORMATEX f = ToSystem(format);
    HWAVEOUT device = nullptr;
    if (waveOutOpen(&device, WAVE_MAPPER, &f, reinterpret_cast<DWORD_PTR>(OutProc),
                    reinterpret_cast<DWORD_PTR>(callback), CALLBACK_FUNCTION) != MMSYSERR_NOERROR)
        return nullptr;
    return reinterpret_cast<WaveOut>(device);
}

int WaveInQueue(WaveIn device, WaveHeader* header) {
    HWAVEIN h = reinterpret_cast<HWAVEIN>(device);
    WAVEHDR* w = reinterpret_cast<WAVEHDR*>(header);
    return waveInPrepareHeader(h, w, sizeof(WAVEHDR)) == MMSYSERR_NOERROR &&
           waveInAddBuffer(h, w, sizeof(WAVEHDR)) == MMSYSERR_NOERROR;
}

int WaveOutQueue(WaveOut device, WaveHeader* header) {
    HWAVEOUT h = reinterpret_cast<HWAVEOUT>(device);
    WAVEHDR* w = reinterpret_cast<WAVEHDR*>(header);
    return waveOutPrepareHeader(h, w, sizeof(WAVEHDR)) == MMSYSERR_NOERROR &&
           waveOutWrite(h, w, sizeof(WAVEHDR)) == MMSYSERR_NOERROR;
}

int WaveInStart(WaveIn device) {
    return waveInStart(reinterpret_cast<HWAVEIN>(device)) == MMSYSERR_NOERROR;
}

int WaveInPosition(WaveIn device, uint32_t* bytes) {
    MMTIME time = {};
    time.wType = TIME_BYTES;
    if (waveInGetPosition(reinterpret_cast<HWAVEIN>(device), &time, sizeof time) !=
            MMSYSERR_NOERROR ||
        time.wType != TIME_BYTES)
        return 0;  // a driver that cannot count bytes leaves the count to the buffers
    *bytes = time.u.cb;
    return 1;
}

int WaveInReset(WaveIn device) {
    return waveInReset(reinterpret_cast<HWAVEIN>(device)) == MMSYSERR_NOERROR;
}

int WaveOutReset(WaveOut device) {
    return waveOutReset(reinterpret_cast<HWAVEOUT>(device)) == MMSYSERR_NOERROR;
}

int WaveInRelease(WaveIn device, WaveHeader* header) {
    return waveInUnprepareHeader(reinterpret_cast<HWAVEIN>(device),
                                 reinterpret_cast<WAVEHDR*>(header),
                                 sizeof(WAVEHDR)) == MMSYSERR_NOERROR;
}

int WaveOutRelease(WaveOut device, WaveHeader* header) {
    return waveOutUnprepareHeader(reinterpret_cast<HWAVEOUT>(device),
                                  reinterpret_cast<WAVEHDR*>(header),
                                  sizeof(WAVEHDR)) == MMSYSERR_NOERROR;
}

int WaveInClose(WaveIn device) {
    return waveInClose(reinterpret_cast<HWAVEIN>(device)) == MMSYSERR_NOERROR;
}

int WaveOutClose(WaveOut device) {
    return waveOutClose(reinterpret_cast<HWAVEOUT>(device)) == MMSYSERR_NOERROR;
}

void WaveOutCloseLater(WaveOut device) {
    HWND window = deferWindow.load();
    if (window)
        PostMessageA(window, kCloseDevice, reinterpret_cast<WPARAM>(device), 0);
}

void* WaveAllocate(uint32_t size) {
    return malloc(size ? size : 1);
}

void WaveFree(void* data) {
    free(data);
}

}  // namespace platform
