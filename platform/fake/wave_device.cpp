// The host wave service's simulated devices: a thread that moves samples through the queued
// buffers as the test grants time, and a thread that reports the finished ones (see fake_wave.h).
#include "platform/fake/wave_device.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace fake {
namespace device {

State& state() {
    static State s;
    return s;
}

namespace {

void PatternFill(uint64_t index, uint8_t* data, uint32_t length) {
    for (uint32_t i = 0; i < length; ++i)
        data[i] = fake::PatternSample(index + i);
}

}  // namespace

bool Strike(State& s, fake::WaveCall call) {
    bool hit = false;
    for (size_t i = 0; i < s.armed.size();) {
        if (s.armed[i].call == call && --s.armed[i].remaining == 0) {
            hit = true;
            s.armed.erase(s.armed.begin() + static_cast<ptrdiff_t>(i));
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

namespace {

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
    if (d->paused)
        return;  // time passes unheard, and is no gap
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

}  // namespace

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

int Pause(void* handle, int paused) {
    State& s = state();
    std::unique_lock<std::mutex> lk(s.lock);
    Device* d = Find(s, handle);
    if (!d || d->input) {
        s.faults.push_back("pause of an unknown device");
        return 0;
    }
    d->paused = paused;
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
    if (input && Strike(s, fake::kWaveInReset))
        return 0;
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

}  // namespace device
}  // namespace fake
