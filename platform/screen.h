// Pictures of the screen: the pixels of a rectangle, on every monitor, and the scale of the
// monitor at a point. Coordinates are the events' own: physical pixels of the virtual screen,
// negative on monitors left of or above the primary one.
#pragma once

#include <cstdint>

namespace platform {

// A pixel is 0x00RRGGBB. One that lies on no monitor is kUnknownPixel, which no colour equals.
const uint32_t kUnknownPixel = 0xFF000000u;

inline bool IsUnknownPixel(uint32_t pixel) {
    return (pixel & 0xFF000000u) != 0;
}

// Copies the `width` x `height` pixels whose top left is (left, top) into `pixels`, row by row
// from the top. False when the screen could not be read (a locked desktop, no memory for the
// copy); `pixels` then holds kUnknownPixel throughout.
bool TakeScreen(int32_t left, int32_t top, uint32_t width, uint32_t height, uint32_t* pixels);

// The dpi of the monitor at the point, or of the one nearest it: 96 at 100 % scale.
uint32_t ScreenDpiAt(int32_t x, int32_t y);

}  // namespace platform
