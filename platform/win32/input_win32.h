// Details of the Win32 input layer that its tests need to see.
#pragma once

#include <cstdint>

namespace platform {
namespace win32 {

// dwExtraInfo of every input the emulated playback injects. The emulated record source drops
// input carrying it, so a playback is never recorded into the journal it comes from; other
// injected input (test drivers, on-screen keyboards) is recorded like any other.
const uintptr_t kPlaybackInputTag = 0x51565042;

// True where the native journal hooks are tried first: Windows before Vista, never Wine.
bool NativeJournalHooksPreferred();

// True when `hook` is an installed emulated record source or playback sink.
bool IsEmulatedHook(void* hook);

}  // namespace win32
}  // namespace platform
