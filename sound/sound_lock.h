// The sound recorder's one lock. It guards the recorder's fields: the notifications take it for
// each block step; the owner's calls take it around their bookkeeping and around Stop's position
// read and `stopping` flag. It is never held across a device open, reset or close: those wait
// for the audio layer's thread, which may be waiting for the lock inside a notification. It is
// held across WaveInQueue/WaveOutQueue, so a buffer that completes inside the call is reported to
// a caller that already holds it (hence recursive); every field is brought up to date before
// such a call.
#pragma once

#include <cstdint>
#include <mutex>

namespace sound {

inline std::recursive_mutex& RecorderLock() {
    static std::recursive_mutex lock;
    return lock;
}

typedef std::lock_guard<std::recursive_mutex> Guard;

// Blocks in the device at a time.
const int32_t kAhead = 2;

}  // namespace sound
