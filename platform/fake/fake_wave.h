// Test controls of the host wave service. Each open device is driven by two threads of its own,
// as a real audio layer does: a device thread that moves samples through the queued buffers as
// the test lets time pass, and a notification thread that reports finished buffers in order.
// Resets hand buffers back on the caller's thread, and an empty buffer written with nothing ahead
// of it completes inside WaveOutQueue, as the service allows.
//
// Time is counted in bytes of sound (one byte is one sample). Nothing moves until the test grants
// time with AdvanceWave; the device thread then spends it in steps of a set size and pace. Samples
// that arrive while no buffer is queued are lost (capture) and stretches with nothing to play
// between two buffers are heard as gaps (playback); both are counted.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/wave.h"

namespace fake {

// Fills `data` with `length` samples of the input signal from sample `index` on (counted from
// the capture's start).
typedef std::function<void(uint64_t index, uint8_t* data, uint32_t length)> SampleGenerator;

// The default input signal: a pattern that never repeats within a block, so a lost or doubled
// stretch shows in the captured bytes.
uint8_t PatternSample(uint64_t index);

// Forgets faults, counters, logs and settings; restores one device each way that accepts any
// format, the pattern generator and the default pace. Devices still open are reported as a fault
// (see WaveFaults) and closed.
void ResetWave();

void SetWaveDevices(uint32_t inputs, uint32_t outputs);
// What the format query answers in each direction (both 1 by default).
void SetWaveFormatSupport(int input, int output);
void SetSampleGenerator(SampleGenerator generator);
// Each step moves `bytes` samples, then sleeps `microseconds` (0: no sleep). Default 2205 bytes
// every 100 us, about a thousand times real time.
void SetWavePace(uint32_t bytes, uint32_t microseconds);

enum WaveCall {
    kWaveInOpen,
    kWaveOutOpen,
    kWaveInQueue,
    kWaveOutQueue,
    kWaveInStart,
    kWaveInPosition,
    kWaveAllocate,
    kWaveInReset,  // refused: the device keeps its buffers and goes on capturing
    kWaveCallKinds
};
// Makes the nth call of that kind from now on fail (1 = the next one).
void FailWaveCall(WaveCall call, int nth);

// Lets `bytes` samples of time pass on every device open now. Returns at once.
void AdvanceWave(uint64_t bytes);
// Waits until every open device has spent its time and every finished buffer has been reported
// (held notifications aside). False after `timeoutMs` without that.
bool WaitWaveIdle(int timeoutMs = 30000);
// AdvanceWave and WaitWaveIdle.
bool RunWave(uint64_t bytes);

// While held, finished buffers wait for their notification (a reset still hands them back).
void HoldWaveNotifications(int held);
// Called on the notification thread right before each notification of a finished buffer.
void SetWaveNotificationHook(std::function<void(uint32_t message)> hook);

int OpenWaveDevices();
int PausedWaveOutputs();   // open output devices between WaveOutPause and the restart
int WaveOpens(int input);  // successful opens in that direction since the last reset
platform::WaveFormat LastWaveFormat();
// Misuse seen by the service: a reset or close from inside the device's own notification, a close
// while buffers are queued or a header is still prepared, a buffer queued twice or unprepared,
// closes of unknown devices.
std::vector<std::string> WaveFaults();

uint64_t DroppedCaptureBytes();
uint64_t PlaybackGapBytes();
// Everything played since the last reset, and the length of every buffer written.
std::vector<uint8_t> PlayedBytes();
std::vector<uint32_t> WrittenLengths();
// Buffers from WaveAllocate not yet given back.
int LiveWaveBuffers();

}  // namespace fake
