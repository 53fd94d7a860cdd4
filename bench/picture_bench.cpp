// Micro-benchmarks of a press's screen picture over the fake screen: one search of a 1000 x 700
// window full of buttons and text (at the recorded scale and at 150 %), one comparison at the
// press point, and the picture's size on disk.
#include <benchmark/benchmark.h>

#include <vector>

#include "journal/picture_file.h"
#include "journal/screen_picture.h"
#include "platform/fake/fake_screen.h"
#include "platform/screen.h"

namespace {

const int32_t kWidth = 1000, kHeight = 700;

// Dark strokes on the background in a 5 x 7 cell, a made-up glyph for each seed: text, for the
// search, that is everywhere alike and nowhere the same.
void PaintText(std::vector<uint32_t>* image, uint32_t width, uint32_t left, uint32_t top,
               uint32_t glyphs, uint32_t seed) {
    for (uint32_t g = 0; g < glyphs; g++) {
        uint32_t bits = (seed + g) * 2654435761u ^ (seed * 40503u);
        for (uint32_t y = 0; y < 7; y++)
            for (uint32_t x = 0; x < 5; x++)
                if (bits >> ((y * 5 + x) % 31) & 1)
                    (*image)[(top + y) * width + left + 6 * g + x] = 0x000000;
    }
}

// Rows of buttons, each with a label of its own, above a white field of text lines. The
// window's top left is at 0,0; `scale` draws it larger.
void PaintWindow(double scale) {
    std::vector<uint32_t> image(kWidth * kHeight, 0xF0F0F0);
    uint32_t seed = 1;
    for (uint32_t row = 0; row < 8; row++) {
        for (uint32_t column = 0; column < 10; column++, seed += 7) {
            uint32_t left = 20 + column * 96, top = 20 + row * 36;
            for (uint32_t y = 0; y < 23; y++)
                for (uint32_t x = 0; x < 75; x++)
                    image[(top + y) * kWidth + left + x] =
                        x == 0 || y == 0 || x == 74 || y == 22 ? 0xADADAD : 0xE1E1E1;
            PaintText(&image, kWidth, left + 20, top + 8, 2 + seed % 4, seed);
        }
    }
    for (uint32_t y = 320; y < 680; y++)
        for (uint32_t x = 20; x < 980; x++)
            image[y * kWidth + x] = 0xFFFFFF;
    for (uint32_t line = 0; line < 22; line++)
        for (uint32_t word = 0; word < 30; word++, seed += 3)
            PaintText(&image, kWidth, 26 + word * 31, 326 + line * 16, 4, seed);
    fake::ResetScreen();
    fake::SetMonitors({{{0, 0, 2 * kWidth, 2 * kHeight}, scale == 1 ? 96u : 144u}});
    fake::PaintImage(0, 0, kWidth, image, scale);
}

// The picture of the press on the button of row 5, column 7, drawn at 100 %.
journal::ScreenPicture PressPicture() {
    PaintWindow(1);
    journal::ScreenPicture picture;
    journal::TakePicture(20 + 7 * 96 + 37, 20 + 5 * 36 + 11, &picture);
    return picture;
}

std::vector<uint32_t> TakeWindow(double scale, int32_t* width, int32_t* height) {
    PaintWindow(scale);
    *width = static_cast<int32_t>(kWidth * scale);
    *height = static_cast<int32_t>(kHeight * scale);
    std::vector<uint32_t> pixels(static_cast<size_t>(*width) * static_cast<size_t>(*height));
    platform::TakeScreen(0, 0, static_cast<uint32_t>(*width), static_cast<uint32_t>(*height),
                         pixels.data());
    return pixels;
}

// One search of the window at range(0) dpi, from an expected point far from the button.
void BM_Search(benchmark::State& state) {
    journal::ScreenPicture picture = PressPicture();
    double scale = static_cast<double>(state.range(0)) / 96;
    int32_t width, height;
    std::vector<uint32_t> pixels = TakeWindow(scale, &width, &height);
    journal::PixelArea window = {pixels.data(), 0, 0, static_cast<uint32_t>(width),
                                 static_cast<uint32_t>(height)};
    int32_t x = 0, y = 0;
    bool found = false;
    for (auto _ : state) {
        found = journal::FindPicture(picture, window, static_cast<uint32_t>(state.range(0)), 10, 10,
                                     &x, &y);
        benchmark::DoNotOptimize(found);
    }
    state.counters["found"] = found;
    state.counters["x"] = x;
    state.counters["y"] = y;
}
BENCHMARK(BM_Search)->Arg(96)->Arg(144)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// One comparison at the press point, on the square LocatePicture takes there.
void BM_Compare(benchmark::State& state) {
    journal::ScreenPicture picture = PressPicture();
    const int32_t x = 20 + 7 * 96 + 37, y = 20 + 5 * 36 + 11, side = 36;
    std::vector<uint32_t> pixels(side * side);
    platform::TakeScreen(x - 18, y - 18, side, side, pixels.data());
    journal::PixelArea live = {pixels.data(), x - 18, y - 18, side, side};
    bool matches = false;
    for (auto _ : state) {
        matches = journal::PictureMatches(picture, live, 96, x, y);
        benchmark::DoNotOptimize(matches);
    }
    state.counters["matches"] = matches;
    uint8_t bytes[journal::kLargestPicture];
    state.counters["picture_bytes"] = journal::EncodePicture(picture, bytes);
    state.counters["plain"] = picture.plain;
}
BENCHMARK(BM_Compare)->Unit(benchmark::kMicrosecond)->MinTime(0.5);

}  // namespace

BENCHMARK_MAIN();
