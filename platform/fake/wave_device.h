// The host wave service's simulated devices (see fake_wave.h): what the service and its test
// controls share.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/fake/fake_wave.h"
#include "platform/wave.h"

namespace fake {
namespace device {

struct Device {
    int input = 0;
    platform::WaveCallback callback = nullptr;
    std::deque<platform::WaveHeader*> queue;      // handed over, front first
    std::deque<platform::WaveHeader*> done;       // finished, not yet reported
    std::vector<platform::WaveHeader*> prepared;  // queued once and not released since
    uint32_t offset = 0;                          // output: bytes of the front buffer played
    int started = 0;                              // input: between WaveInStart and the reset
    int paused = 0;                               // output: between WaveOutPause and the restart
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

State& state();

// Caller holds the lock: counts the call and reports whether an armed fault fires on it.
bool Strike(State& s, fake::WaveCall call);
Device* Find(State& s, void* handle);

// The device side of the service's calls; `input` tells the direction.
void* Open(int input, const platform::WaveFormat* format, platform::WaveCallback callback);
int Queue(int input, void* handle, platform::WaveHeader* header);
int Reset(int input, void* handle);
int Pause(void* handle, int paused);
int Release(int input, void* handle, platform::WaveHeader* header);
int Close(int input, void* handle);
// Ends a device's threads without the checks of Close (at ResetWave).
void ForceClose(Device* d);

}  // namespace device
}  // namespace fake
