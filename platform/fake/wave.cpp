// Host wave service: the platform's wave calls over the simulated devices of wave_device.cpp,
// and the controls that tests drive them with (see fake_wave.h).
#include <cstdlib>

#include <algorithm>
#include <chrono>

#include "platform/fake/fake_wave.h"
#include "platform/fake/wave_device.h"
#include "platform/wave.h"

namespace device = fake::device;
using fake::device::Device;
using fake::device::Fault;
using fake::device::Find;
using fake::device::State;
using fake::device::state;
using fake::device::Strike;

namespace platform {

uint32_t WaveInCount() {
    std::lock_guard<std::mutex> lk(state().lock);
    return state().inputs;
}

uint32_t WaveOutCount() {
    std::lock_guard<std::mutex> lk(state().lock);
    return state().outputs;
}

int WaveInSupports(const WaveFormat* format) {
    State& s = state();
    std::lock_guard<std::mutex> lk(s.lock);
    if (format)
        s.lastFormat = *format;
    return format && s.inputs > 0 && s.inputOk;
}

int WaveOutSupports(const WaveFormat* format) {
    State& s = state();
    std::lock_guard<std::mutex> lk(s.lock);
    if (format)
        s.lastFormat = *format;
    return format && s.outputs > 0 && s.outputOk;
}

WaveIn WaveInOpen(const WaveFormat* format, WaveCallback callback) {
    return static_cast<WaveIn>(device::Open(1, format, callback));
}

WaveOut WaveOutOpen(const WaveFormat* format, WaveCallback callback) {
    return static_cast<WaveOut>(device::Open(0, format, callback));
}

int WaveInQueue(WaveIn device, WaveHeader* header) {
    return device::Queue(1, device, header);
}
int WaveOutQueue(WaveOut device, WaveHeader* header) {
    return device::Queue(0, device, header);
}

int WaveInStart(WaveIn device) {
    State& s = state();
    std::lock_guard<std::mutex> lk(s.lock);
    Device* d = Find(s, device);
    if (!d || !d->input || Strike(s, fake::kWaveInStart))
        return 0;
    d->started = 1;
    s.changed.notify_all();
    return 1;
}

int WaveInPosition(WaveIn device, uint32_t* bytes) {
    State& s = state();
    std::lock_guard<std::mutex> lk(s.lock);
    Device* d = Find(s, device);
    if (!d || !d->input || !bytes || Strike(s, fake::kWaveInPosition))
        return 0;
    *bytes = uint32_t(d->position);
    return 1;
}

int WaveInReset(WaveIn device) {
    return device::Reset(1, device);
}
int WaveOutPause(WaveOut device) {
    return device::Pause(device, 1);
}
int WaveOutRestart(WaveOut device) {
    return device::Pause(device, 0);
}
int WaveOutReset(WaveOut device) {
    return device::Reset(0, device);
}
int WaveInRelease(WaveIn device, WaveHeader* header) {
    return device::Release(1, device, header);
}
int WaveOutRelease(WaveOut device, WaveHeader* header) {
    return device::Release(0, device, header);
}
int WaveInClose(WaveIn device) {
    return device::Close(1, device);
}
int WaveOutClose(WaveOut device) {
    return device::Close(0, device);
}

void* WaveAllocate(uint32_t size) {
    State& s = state();
    {
        std::lock_guard<std::mutex> lk(s.lock);
        if (Strike(s, fake::kWaveAllocate))
            return nullptr;
    }
    void* data = malloc(size ? size : 1);
    if (data) {
        std::lock_guard<std::mutex> lk(s.lock);
        s.liveBuffers++;
    }
    return data;
}

void WaveFree(void* data) {
    if (!data)
        return;
    free(data);
    State& s = state();
    std::lock_guard<std::mutex> lk(s.lock);
    s.liveBuffers--;
}

}  // namespace platform

namespace fake {

uint8_t PatternSample(uint64_t index) {
    // Mixing in the higher bits keeps any two stretches a block apart from matching.
    return uint8_t(index * 7 + (index >> 8) * 13 + (index >> 16) * 101);
}

void ResetWave() {
    State& s = state();
    std::vector<Device*> leftover;
    {
        std::lock_guard<std::mutex> lk(s.lock);
        leftover.swap(s.devices);
        for (Device* d : leftover)
            d->quit = 1;
        s.changed.notify_all();
    }
    for (Device* d : leftover)
        device::ForceClose(d);
    std::lock_guard<std::mutex> lk(s.lock);
    s.inputs = 1;
    s.outputs = 1;
    s.inputOk = 1;
    s.outputOk = 1;
    s.generator = nullptr;
    s.stepBytes = 2205;
    s.stepMicroseconds = 100;
    s.armed.clear();
    s.held = 0;
    s.hook = nullptr;
    s.opens[0] = s.opens[1] = 0;
    s.lastFormat = platform::WaveFormat();
    s.faults.clear();
    s.dropped = 0;
    s.gaps = 0;
    s.played.clear();
    s.written.clear();
}

void SetWaveDevices(uint32_t inputs, uint32_t outputs) {
    std::lock_guard<std::mutex> lk(state().lock);
    state().inputs = inputs;
    state().outputs = outputs;
}

void SetWaveFormatSupport(int input, int output) {
    std::lock_guard<std::mutex> lk(state().lock);
    state().inputOk = input;
    state().outputOk = output;
}

void SetSampleGenerator(SampleGenerator generator) {
    std::lock_guard<std::mutex> lk(state().lock);
    state().generator = generator;
}

void SetWavePace(uint32_t bytes, uint32_t microseconds) {
    std::lock_guard<std::mutex> lk(state().lock);
    state().stepBytes = bytes;
    state().stepMicroseconds = microseconds;
}

void FailWaveCall(WaveCall call, int nth) {
    std::lock_guard<std::mutex> lk(state().lock);
    state().armed.push_back(Fault{call, nth});
}

void AdvanceWave(uint64_t bytes) {
    State& s = state();
    std::lock_guard<std::mutex> lk(s.lock);
    for (Device* d : s.devices)
        d->budget += bytes;
    s.changed.notify_all();
}

bool WaitWaveIdle(int timeoutMs) {
    State& s = state();
    std::unique_lock<std::mutex> lk(s.lock);
    return s.changed.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] {
        for (Device* d : s.devices)
            if (d->budget || d->notifying || (!d->done.empty() && !s.held))
                return false;
        return true;
    });
}

bool RunWave(uint64_t bytes) {
    AdvanceWave(bytes);
    return WaitWaveIdle();
}

void HoldWaveNotifications(int held) {
    std::lock_guard<std::mutex> lk(state().lock);
    state().held = held;
    state().changed.notify_all();
}

void SetWaveNotificationHook(std::function<void(uint32_t message)> hook) {
    std::lock_guard<std::mutex> lk(state().lock);
    state().hook = hook;
}

int OpenWaveDevices() {
    std::lock_guard<std::mutex> lk(state().lock);
    return int(state().devices.size());
}

int PausedWaveOutputs() {
    std::lock_guard<std::mutex> lk(state().lock);
    int paused = 0;
    for (const device::Device* d : state().devices)
        paused += !d->input && d->paused;
    return paused;
}

int WaveOpens(int input) {
    std::lock_guard<std::mutex> lk(state().lock);
    return state().opens[input ? 1 : 0];
}

platform::WaveFormat LastWaveFormat() {
    std::lock_guard<std::mutex> lk(state().lock);
    return state().lastFormat;
}

std::vector<std::string> WaveFaults() {
    std::lock_guard<std::mutex> lk(state().lock);
    return state().faults;
}

uint64_t DroppedCaptureBytes() {
    std::lock_guard<std::mutex> lk(state().lock);
    return state().dropped;
}

uint64_t PlaybackGapBytes() {
    std::lock_guard<std::mutex> lk(state().lock);
    return state().gaps;
}

std::vector<uint8_t> PlayedBytes() {
    std::lock_guard<std::mutex> lk(state().lock);
    return state().played;
}

std::vector<uint32_t> WrittenLengths() {
    std::lock_guard<std::mutex> lk(state().lock);
    return state().written;
}

int LiveWaveBuffers() {
    std::lock_guard<std::mutex> lk(state().lock);
    return state().liveBuffers;
}

}  // namespace fake
