// Which top-level window an input event belongs to, told by what survives a restart of its
// program: the program's file name, the window's class and title, and where it was.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace platform {

// Names are cut to 255 bytes (the class name's own limit) and kept zero-terminated.
const uint32_t kWindowNameSize = 256;

struct WindowRect {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};

// Texts are 8-bit, in the system's code page.
struct WindowInfo {
    char program[kWindowNameSize];  // the executable's file name, without its folder
    char windowClass[kWindowNameSize];
    char title[kWindowNameSize];
    WindowRect rect;  // screen coordinates, physical pixels, as the events' positions
    uint32_t dpi;     // of the window's monitor: 96 at 100 % scale; 0 when unknown
};

}  // namespace platform
