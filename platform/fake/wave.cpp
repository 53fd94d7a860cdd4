// Host wave service: devices with a thread that moves samples and a thread that reports finished
// buffers, driven by the time the test grants (see fake_wave.h).
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/fake/fake_wave.h"
#include "platform/wave.h"

namespace {

struct Device {
    int input = 0;
    platform::WaveCallback callback = nullptr;
    std::deque<platform::WaveHeader*> queue;      // handed over, front first
    std::deque<platform::WaveHeader*> done;       // finished, not yet reported
    std::vector<platform::WaveHeader*> prepared;  // queued once and not released since
    uint32_t offset = 0;                          // output: bytes of the front buffer played
    int started = 0;                              // input: between WaveInStart and the reset
    int quit = 0;
    int notifying = 0;
    uint64_t budget = 0;    // time still to pass, in samples
    uint64_t position = 0;  // input: samples since the start
    int playedAny = 0;      // output: a buffer has finished since the open or reset
    uint64_t silence = 0;   // output: samples heard as silence since the last buffer ran out
    std::thread mover;
    std::thread notifier;
    std::thread::id notifierId;
};

struct Fault {
    fake::WaveCall call;
    int remaining;
};

struct State {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<Device*> devices;
    uint32_t inputs = 1;
    uint32_t outputs = 1;
    int inputOk = 1;
    int outputOk = 1;
    fake::SampleGenerator generator;
    uint32_t stepBytes = 2205;
    uint32_t stepMicroseconds = 100;
    std::vector<Fault> armed;
    int held = 0;
    std::function<void(uint32_t)> hook;
    int opens[2] = {0, 0};
    platform::WaveFormat lastFormat = {};
    std::vector<std::string> faults;
    uint64_t dropped = 0;
    uint64_t gaps = 0;
    std::vector<uint8_t> played;
    std::vector<uint32_t> written;
    int liveBuffers = 0;
};

State& state() {
    static State s;
    return s;
}

void PatternFill(uint64_t index, uint8_t* data, uint32_t length) {
    for (uint32_t i = 0; i < length; ++i)
        data[i] = fake::PatternSample(index + i);
}

// Caller holds the lock.
bool Strike(State& s, fake::WaveCall call) {
    bool hit = false;
    for (size_t i = 0; i < s.armed.size();) {
        if (s.armed[i].call == call && --s.armed[i].remaining == 0) {
            hit = true;
            s.armed.erase(s.armed.begin() + i);
        } else {
            ++i;
        }
    }
    return hit;
}

Device* Find(State& s, void* handle) {
    for (Device* d : s.devices)
        if (d == handle)
            return d;
    return nullptr;
}

uint32_t DoneMessage(const Device* d) {
    return d->input ? WIM_DATA : WOM_DONE;
}

// Moves the front buffer to the finished ones. Caller holds the lock.
void Complete(State& s, Device* d) {
    platform::WaveHeader* h = d->queue.front();
    d->queue.pop_front();
    h->flags = (h->flags & ~uint32_t(WHDR_INQUEUE)) | WHDR_DONE;
    d->done.push_back(h);
    s.changed.notify_all();
}

void Capture(State& s, Device* d, uint32_t samples) {
    if (!d->started)
        return;  // time passes unheard before the start
    while (samples) {
        if (d->queue.empty()) {
            s.dropped += samples;
            d->position += samples;
            return;
        }
        platform::WaveHeader* h = d->queue.front();
        uint32_t take = std::min(h->bufferLength - h->bytesRecorded, samples);
        if (take) {
            uint8_t* at = reinterpret_cast<uint8_t*>(h->data) + h->bytesRecorded;
            if (s.generator)
                s.generator(d->position, at, take);
            else
                PatternFill(d->position, at, take);
        }
        h->bytesRecorded += take;
        d->position += take;
        samples -= take;
        if (h->bytesRecorded == h->bufferLength)
            Complete(s, d);
    }
}

void CompleteEmptyFront(State& s, Device* d) {
    while (!d->queue.empty() && d->queue.front()->bufferLength == 0 && d->offset == 0) {
        Complete(s, d);
        d->playedAny = 1;
    }
}

void Play(State& s, Device* d, uint32_t samples) {
    CompleteEmptyFront(s, d);
    while (samples) {
        if (d->queue.empty()) {
            if (d->playedAny)
                d->silence += samples;
            return;
        }
        platform::WaveHeader* h = d->queue.front();
        uint32_t take = std::min(h->bufferLength - d->offset, samples);
        const uint8_t* from = reinterpret_cast<const uint8_t*>(h->data) + d->offset;
        s.played.insert(s.played.end(), from, from + take);
        d->offset += take;
        samples -= take;
        if (d->offset == h->bufferLength) {
            d->offset = 0;
            Complete(s, d);
            d->playedAny = 1;
            CompleteEmptyFront(s, d);
        }
    }
}

void MoverLoop(Device* d) {
    State& s = state();
    std::unique_lock<std::mutex> lk(s.lock);
    for (;;) {
        s.changed.wait(lk, [&] { return d->quit || d->budget > 0; });
        if (d->quit)
            return;
        uint32_t step = uint32_t(std::min<uint64_t>(d->budget, s.stepBytes ? s.stepBytes : 1));
        if (d->input)
            Capture(s, d, step);
        else
            Play(s, d, step);
        d->budget -= step;
        s.changed.notify_all();
        if (s.stepMicroseconds) {
            uint32_t pause = s.stepMicroseconds;
            lk.unlock();
            std::this_thread::sleep_for(std::chrono::microseconds(pause));
            lk.lock();
        }
    }
}

void NotifierLoop(Device* d) {
    State& s = state();
    std::unique_lock<std::mutex> lk(s.lock);
    for (;;) {
        s.changed.wait(lk, [&] { return d->quit || (!d->done.empty() && !s.held); });
        if (d->quit)
            return;
        platform::WaveHeader* h = d->done.front();
        d->done.pop_front();
        d->notifying = 1;
        std::function<void(uint32_t)> hook = s.hook;
        platform::WaveCallback callback = d->callback;
        uint32_t message = DoneMessage(d);
        lk.unlock();
        if (hook)
            hook(message);
        callback(d, message, reinterpret_cast<uintptr_t>(h), 0);
        lk.lock();
        d->notifying = 0;
        s.changed.notify_all();
    }
}

void* Open(int input, const platform::WaveFormat* format, platform::WaveCallback callback) {
    State& s = state();
    std::unique_lock<std::mutex> lk(s.lock);
    if (format)
        s.lastFormat = *format;
    if (Strike(s, input ? fake::kWaveInOpen : fake::kWaveOutOpen) || !format || !callback ||
        (input ? s.inputs == 0 || !s.inputOk : s.outputs == 0 || !s.outputOk))
        return nullptr;
    Device* d = new Device;
    d->input = input;
    d->callback = callback;
    d->mover = std::thread(MoverLoop, d);
    d->notifier = std::thread(NotifierLoop, d);
    d->notifierId = d->notifier.get_id();
    s.devices.push_back(d);
    s.opens[input ? 1 : 0]++;
    lk.unlock();
    callback(d, input ? WIM_OPEN : WOM_OPEN, 0, 0);
    return d;
}

int Queue(int input, void* handle, platform::WaveHeader* header) {
    State& s = state();
    std::unique_lock<std::mutex> lk(s.lock);
    Device* d = Find(s, handle);
    if (!d || d->input != input || !header) {
        s.faults.push_back("buffer queued on an unknown device");
        return 0;
    }
    if (header->flags & WHDR_INQUEUE) {
        s.faults.push_back("buffer queued while the device holds it");
        return 0;
    }
    if (std::find(d->prepared.begin(), d->prepared.end(), header) == d->prepared.end())
        d->prepared.push_back(header);
    header->flags |= WHDR_PREPARED;
    // A refusal comes from the hand-over: the header is prepared all the same.
    if (Strike(s, input ? fake::kWaveInQueue : fake::kWaveOutQueue))
        return 0;
    if (!header->data && header->bufferLength) {
        s.faults.push_back("buffer without data");
        return 0;
    }
    header->flags = (header->flags | WHDR_PREPARED | WHDR_INQUEUE) & ~uint32_t(WHDR_DONE);
    header->next = nullptr;
    if (input) {
        header->bytesRecorded = 0;
        d->queue.push_back(header);
        s.changed.notify_all();
        return 1;
    }
    s.written.push_back(header->bufferLength);
    if (d->queue.empty()) {
        // The stretch since the last buffer ran out was heard, unless this is the first.
        s.gaps += d->silence;
        d->silence = 0;
        if (header->bufferLength == 0) {
            // Nothing ahead of it: it completes inside the call, on the caller's thread.
            header->flags = (header->flags & ~uint32_t(WHDR_INQUEUE)) | WHDR_DONE;
            d->playedAny = 1;
            platform::WaveCallback callback = d->callback;
            lk.unlock();
            callback(d, WOM_DONE, reinterpret_cast<uintptr_t>(header), 0);
            return 1;
        }
    }
    d->queue.push_back(header);
    s.changed.notify_all();
    return 1;
}

int Reset(int input, void* handle) {
    State& s = state();
    std::unique_lock<std::mutex> lk(s.lock);
    Device* d = Find(s, handle);
    if (!d || d->input != input) {
        s.faults.push_back("reset of an unknown device");
        return 0;
    }
    if (std::this_thread::get_id() == d->notifierId) {
        s.faults.push_back("reset from inside the device's own notification");
        return 0;
    }
    std::vector<platform::WaveHeader*> back(d->done.begin(), d->done.end());
    for (platform::WaveHeader* h : d->queue) {
        h->flags = (h->flags & ~uint32_t(WHDR_INQUEUE)) | WHDR_DONE;
        back.push_back(h);
    }
    d->done.clear();
    d->queue.clear();
    d->offset = 0;
    d->started = 0;
    d->position = 0;
    d->budget = 0;
    d->playedAny = 0;
    d->silence = 0;
    platform::WaveCallback callback = d->callback;
    uint32_t message = DoneMessage(d);
    s.changed.notify_all();
    lk.unlock();
    for (platform::WaveHeader* h : back)
        callback(d, message, reinterpret_cast<uintptr_t>(h), 0);
    return 1;
}

int Release(int input, void* handle, platform::WaveHeader* header) {
    State& s = state();
    std::lock_guard<std::mutex> lk(s.lock);
    Device* d = Find(s, handle);
    if (!d || d->input != input || !header) {
        s.faults.push_back("release on an unknown device");
        return 0;
    }
    if (header->flags & WHDR_INQUEUE) {
        s.faults.push_back("release of a buffer the device holds");
        return 0;
    }
    header->flags &= ~uint32_t(WHDR_PREPARED);
    d->prepared.erase(std::remove(d->prepared.begin(), d->prepared.end(), header),
                      d->prepared.end());
    return 1;
}

int Close(int input, void* handle) {
    State& s = state();
    std::unique_lock<std::mutex> lk(s.lock);
    Device* d = Find(s, handle);
    if (!d || d->input != input) {
        s.faults.push_back("close of an unknown device");
        return 0;
    }
    if (std::this_thread::get_id() == d->notifierId) {
        s.faults.push_back("close from inside the device's own notification");
        return 0;
    }
    if (!d->queue.empty() || !d->done.empty()) {
        s.faults.push_back("close while the device holds buffers");
        return 0;
    }
    if (!d->prepared.empty())
        s.faults.push_back("close with a header still prepared");
    d->quit = 1;
    s.devices.erase(std::find(s.devices.begin(), s.devices.end(), d));
    s.changed.notify_all();
    lk.unlock();
    d->mover.join();
    d->notifier.join();  // lets a notification still running finish first
    d->callback(d, input ? WIM_CLOSE : WOM_CLOSE, 0, 0);
    delete d;
    return 1;
}

void ForceClose(Device* d) {
    d->mover.join();
    d->notifier.join();
    delete d;
}

}  // namespace

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
    return static_cast<WaveIn>(Open(1, format, callback));
}

WaveOut WaveOutOpen(const WaveFormat* format, WaveCallback callback) {
    return static_cast<WaveOut>(Open(0, format, callback));
}

int WaveInQueue(WaveIn device, WaveHeader* header) {
    return Queue(1, device, header);
}
int WaveOutQueue(WaveOut device, WaveHeader* header) {
    return Queue(0, device, header);
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
    return Reset(1, device);
}
int WaveOutReset(WaveOut device) {
    return Reset(0, device);
}
int WaveInRelease(WaveIn device, WaveHeader* header) {
    return Release(1, device, header);
}
int WaveOutRelease(WaveOut device, WaveHeader* header) {
    return Release(0, device, header);
}
int WaveInClose(WaveIn device) {
    return Close(1, device);
}
int WaveOutClose(WaveOut device) {
    return Close(0, device);
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
        ForceClose(d);
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
