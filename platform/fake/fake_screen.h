// Test controls of the fake screen: monitors and what is painted on them. Paint can come after
// a given number of takes, to show a window that is drawn late.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/screen.h"
#include "platform/window_lookup.h"

namespace fake {

struct Monitor {
    platform::WindowRect rect;
    uint32_t dpi;
};

// After ResetScreen: one 1000 x 700 monitor at 0,0, 96 dpi, all of it kBackground.
const uint32_t kBackground = 0xF0F0F0;
void SetMonitors(const std::vector<Monitor>& monitors);

// Paints `colour` over `rect`, on the monitors only, from the take numbered `shownAfter` on (0:
// the first take). Later paint covers earlier paint.
void PaintRect(const platform::WindowRect& rect, uint32_t colour, uint32_t shownAfter = 0);
// Paints an image of `width` pixels a row, its top left at (left, top), each of its pixels
// `scale` screen pixels wide and high (each screen pixel takes the image pixel it lies in).
void PaintImage(int32_t left, int32_t top, uint32_t width, const std::vector<uint32_t>& image,
                double scale = 1, uint32_t shownAfter = 0);

// How many takes there were since the reset.
uint32_t TakeCount();
void ResetScreen();

}  // namespace fake
