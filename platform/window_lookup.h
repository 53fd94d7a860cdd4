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

// The top-level window under the screen point (the root of the window there); null over the
// desktop or where there is none.
WindowHandle RootWindowAt(int32_t x, int32_t y);
// The window that takes the keyboard's input now; null when there is none.
WindowHandle ForegroundWindow();
// Where the window is now: cheap enough to ask for every event. False when it is gone.
bool WindowBounds(WindowHandle window, WindowRect* rect);
// Everything the record holds; it costs more (the owning process is opened). False when the
// window is gone.
bool DescribeWindow(WindowHandle window, WindowInfo* info);
// The visible top-level windows, topmost first: up to `capacity` are written, and how many there
// are is returned.
uint32_t VisibleWindows(WindowHandle* windows, uint32_t capacity);

}  // namespace platform
