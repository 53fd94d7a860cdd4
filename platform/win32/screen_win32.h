// The Win32 screen service's piece that the window lookup shares.
#pragma once

#include <windows.h>

#include <cstdint>

namespace platform {
namespace win32 {

// The monitor's own scale where the system has one per monitor (Windows 8.1 and later), else
// the system's; 0 when neither can be had.
uint32_t MonitorDpi(HMONITOR monitor);

}  // namespace win32
}  // namespace platform
