#include <algorithm>
#include <cmath>

#include "platform/fake/fake_screen.h"

namespace fake {

namespace {

struct Paint {
    platform::WindowRect rect;
    uint32_t colour;
    std::vector<uint32_t> image;  // empty for a plain colour
    uint32_t width;
    double scale;
    uint32_t shownAfter;
};

struct ScreenState {
    std::vector<Monitor> monitors = {{{0, 0, 1000, 700}, 96}};
    std::vector<Paint> paint;
    uint32_t takes = 0;
};

ScreenState& S() {
    static ScreenState state;
    return state;
}

bool Inside(const platform::WindowRect& r, int32_t x, int32_t y) {
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

uint32_t PixelAt(int32_t x, int32_t y, uint32_t take) {
    bool onMonitor = false;
    for (const Monitor& m : S().monitors)
        onMonitor = onMonitor || Inside(m.rect, x, y);
    if (!onMonitor)
        return platform::kUnknownPixel;
    const std::vector<Paint>& paint = S().paint;
    for (auto p = paint.rbegin(); p != paint.rend(); ++p) {
        if (p->shownAfter > take || !Inside(p->rect, x, y))
            continue;
        if (p->image.empty())
            return p->colour;
        size_t column = static_cast<size_t>((x - p->rect.left) / p->scale);
        size_t row = static_cast<size_t>((y - p->rect.top) / p->scale);
        return p->image[std::min(row * p->width + column, p->image.size() - 1)];
    }
    return kBackground;
}

}  // namespace

void SetMonitors(const std::vector<Monitor>& monitors) {
    S().monitors = monitors;
}

void PaintRect(const platform::WindowRect& rect, uint32_t colour, uint32_t shownAfter) {
    S().paint.push_back({rect, colour, {}, 0, 1, shownAfter});
}

void PaintImage(int32_t left, int32_t top, uint32_t width, const std::vector<uint32_t>& image,
                double scale, uint32_t shownAfter) {
    int32_t w = static_cast<int32_t>(std::ceil(width * scale));
    int32_t h = static_cast<int32_t>(std::ceil(static_cast<double>(image.size() / width) * scale));
    S().paint.push_back({{left, top, left + w, top + h}, 0, image, width, scale, shownAfter});
}

uint32_t TakeCount() {
    return S().takes;
}

void ResetScreen() {
    S() = ScreenState();
}

}  // namespace fake

namespace platform {

bool TakeScreen(int32_t left, int32_t top, uint32_t width, uint32_t height, uint32_t* pixels) {
    uint32_t take = fake::S().takes++;
    for (uint32_t y = 0; y < height; y++)
        for (uint32_t x = 0; x < width; x++)
            pixels[y * width + x] =
                fake::PixelAt(left + static_cast<int32_t>(x), top + static_cast<int32_t>(y), take);
    return true;
}

uint32_t ScreenDpiAt(int32_t x, int32_t y) {
    for (const fake::Monitor& m : fake::S().monitors)
        if (fake::Inside(m.rect, x, y))
            return m.dpi;
    return fake::S().monitors.empty() ? 96 : fake::S().monitors[0].dpi;
}

}  // namespace platform
