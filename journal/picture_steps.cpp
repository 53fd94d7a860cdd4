// A picture and the live screen as codes of their steps, and the templates a picture is drawn as
// on the live monitor: scaled to its dpi, coded, with the weight of each pixel.
//
// A picture is compared by its steps in brightness between neighbouring pixels, not by its
// colours: what changes without meaning on a screen (a hover's shade, a focus or hover border
// in another colour, text smoothing) weakens or strengthens a step but leaves it where it was
// and keeps its sign, while other text, another icon or another control puts steps elsewhere.
#include "journal/picture_steps.h"

#include <cstddef>
#include <new>

#include "platform/screen.h"

namespace journal {
namespace picture {

namespace {

// Brightness is R + 2G + B (0-1020). A strong step means something (ink on paper, a border);
// the other side agrees with it when it has a weak step of the same sign there.
const int32_t kStrongStep = 112;  // 28 grey levels
const int32_t kWeakStep = 32;     // 8 grey levels

int32_t Brightness(uint32_t pixel) {
    if (platform::IsUnknownPixel(pixel))
        return -1;
    return static_cast<int32_t>((pixel >> 16 & 0xFF) + 2 * (pixel >> 8 & 0xFF) + (pixel & 0xFF));
}

// The step from brightness `a` to `b` (-1: unknown), for x (shift 0) or y (shift 2).
uint16_t Step(int32_t a, int32_t b, int shift) {
    if (a < 0 || b < 0)
        return static_cast<uint16_t>(kXUnknown << (shift / 2));
    int32_t d = b - a;
    uint32_t code = (d >= kStrongStep ? 1u : 0u) | (d <= -kStrongStep ? 2u : 0u) |
                    (d >= kWeakStep ? 0x10u : 0u) | (d <= -kWeakStep ? 0x20u : 0u);
    return static_cast<uint16_t>(code << shift);
}

}  // namespace

bool Codes(const uint32_t* pixels, uint32_t width, uint32_t height, bool near, uint16_t* codes) {
    int32_t* rows = new (std::nothrow) int32_t[2 * static_cast<size_t>(width)];
    uint16_t* above = new (std::nothrow) uint16_t[width];
    if (!rows || !above) {
        delete[] rows;
        delete[] above;
        return false;
    }
    int32_t* here = rows;
    int32_t* below = rows + width;
    for (uint32_t x = 0; x < width; x++)
        below[x] = Brightness(pixels[x]);
    for (uint32_t y = 0; y < height; y++) {
        int32_t* swap = here;
        here = below;
        below = swap;
        const uint32_t* next = pixels + static_cast<size_t>(y + 1) * width;
        for (uint32_t x = 0; x < width; x++)
            below[x] = y + 1 < height ? Brightness(next[x]) : -1;
        uint16_t* row = codes + static_cast<size_t>(y) * width;
        for (uint32_t x = 0; x < width; x++)
            row[x] = static_cast<uint16_t>(Step(here[x], x + 1 < width ? here[x + 1] : -1, 0) |
                                           Step(here[x], below[x], 2));
    }
    const uint16_t kNearAcross = kXStrong << kNearShift, kNearDown = kYStrong << kNearShift;
    for (uint32_t y = 0; near && y < height; y++) {
        uint16_t* row = codes + static_cast<size_t>(y) * width;
        uint16_t left = 0;  // the pixel before, as it was
        for (uint32_t x = 0; x < width; x++) {
            uint16_t was = row[x];
            uint16_t right = x + 1 < width ? row[x + 1] : 0;
            row[x] = static_cast<uint16_t>(was | ((left | right) & kNearAcross));
            left = was;
        }
    }
    for (uint32_t y = 0; near && y < height; y++) {
        uint16_t* row = codes + static_cast<size_t>(y) * width;
        const uint16_t* under = y + 1 < height ? row + width : nullptr;
        for (uint32_t x = 0; x < width; x++) {
            uint16_t was = row[x];
            uint16_t spread =
                static_cast<uint16_t>((y > 0 ? above[x] : 0) | (under ? under[x] : 0));
            row[x] = static_cast<uint16_t>(was | (spread & kNearDown));
            above[x] = was;
        }
    }
    delete[] rows;
    delete[] above;
    return true;
}

uint32_t ScaledSide(uint32_t pictureDpi, uint32_t liveDpi) {
    if (!pictureDpi || !liveDpi)
        return kPictureSide;
    uint64_t side = (static_cast<uint64_t>(kPictureSide) * liveDpi + pictureDpi / 2) / pictureDpi;
    return side < kLeastSide  ? kLeastSide
           : side > kMostSide ? kMostSide
                              : static_cast<uint32_t>(side);
}

uint32_t ScaledCentre(uint32_t side) {
    return (2 * kPictureCentre + 1) * side / (2 * kPictureSide);
}

namespace {

// The picture's pixels under pixel `i` of a row scaled to `side`, moved by half a pixel when
// `half`: the first of them, and how much of each it covers (64 in all). 0 when part of it lies
// outside the picture.
uint32_t Under(uint32_t i, uint32_t side, bool half, uint32_t* first, uint32_t* covers) {
    // In 1/(2 side) of a picture pixel.
    int64_t start = 64 * static_cast<int64_t>(i) - (half ? 32 : 0), end = start + 64;
    int64_t unit = 2 * static_cast<int64_t>(side);
    if (start < 0 || end > unit * kPictureSide)
        return 0;
    uint32_t count = 0;
    *first = static_cast<uint32_t>(start / unit);
    for (int64_t k = start / unit; k * unit < end; k++) {
        int64_t from = k * unit > start ? k * unit : start;
        int64_t to = (k + 1) * unit < end ? (k + 1) * unit : end;
        covers[count++] = static_cast<uint32_t>(to - from);
    }
    return count;
}

// Each pixel of the result is the mean of the picture's pixels under it, weighed by how much of
// it each covers; unknown where any of them is, or where it reaches past the picture.
void Scale(const uint32_t* from, uint32_t side, bool halfX, bool halfY, uint32_t* to) {
    // At a quarter of the scale a pixel covers 4 picture pixels a row, 5 of them in part.
    uint32_t coversX[6], coversY[6], firstX = 0, firstY = 0;
    for (uint32_t ty = 0; ty < side; ty++) {
        uint32_t rows = Under(ty, side, halfY, &firstY, coversY);
        for (uint32_t tx = 0; tx < side; tx++) {
            uint32_t columns = Under(tx, side, halfX, &firstX, coversX);
            uint32_t sum[3] = {0, 0, 0};
            bool unknown = !rows || !columns;
            for (uint32_t y = 0; y < rows; y++) {
                for (uint32_t x = 0; x < columns; x++) {
                    uint32_t pixel = from[(firstY + y) * kPictureSide + firstX + x];
                    unknown = unknown || platform::IsUnknownPixel(pixel);
                    for (int c = 0; c < 3; c++)
                        sum[c] += (pixel >> (8 * c) & 0xFF) * coversX[x] * coversY[y];
                }
            }
            uint32_t pixel = 0;
            for (int c = 0; c < 3; c++)
                pixel |= (sum[c] + 2048) / 4096 << (8 * c);
            to[ty * side + tx] = unknown ? platform::kUnknownPixel : pixel;
        }
    }
}

uint8_t WeightAt(uint32_t x, uint32_t y, uint32_t centre, uint32_t side) {
    uint32_t dx = x > centre ? x - centre : centre - x;
    uint32_t dy = y > centre ? y - centre : centre - y;
    uint32_t distance = (dx > dy ? dx : dy) * kPictureSide / side;
    return distance < 8 ? 4 : distance < 12 ? 2 : 1;
}

// Null without memory.
Template* MakeTemplate(const ScreenPicture& picture, uint32_t liveDpi, bool halfX, bool halfY) {
    Template* t = new (std::nothrow) Template;
    if (!t)
        return nullptr;
    t->side = ScaledSide(picture.dpi, liveDpi);
    t->centre = ScaledCentre(t->side);
    t->near = t->side != kPictureSide;
    t->caretLeast = t->side / 4 > 4 ? t->side / 4 : 4;
    bool coded;
    if (t->near) {
        uint32_t* scaled = new (std::nothrow) uint32_t[t->side * t->side];
        if (scaled)
            Scale(picture.pixels, t->side, halfX, halfY, scaled);
        coded = scaled && Codes(scaled, t->side, t->side, true, t->codes);
        delete[] scaled;
    } else {
        coded = Codes(picture.pixels, kPictureSide, kPictureSide, false, t->codes);
    }
    if (!coded) {
        delete t;
        return nullptr;
    }
    t->strongWeight = 0;
    for (uint32_t y = 0; y < t->side; y++) {
        for (uint32_t x = 0; x < t->side; x++) {
            uint32_t at = y * t->side + x;
            t->weights[at] = WeightAt(x, y, t->centre, t->side);
            t->strongWeight += t->weights[at] * StrongSteps(t->codes[at]);
        }
    }
    t->samples = 0;  // chosen for a search only
    return t;
}

}  // namespace

void ReleaseTemplates(Templates* set) {
    for (uint32_t i = 0; i < set->count; i++)
        delete set->each[i];
    set->count = 0;
}

bool MakeTemplates(const ScreenPicture& picture, uint32_t liveDpi, Templates* set) {
    set->count = 0;
    bool scaled = ScaledSide(picture.dpi, liveDpi) != kPictureSide;
    for (uint32_t phase = 0; phase < (scaled ? 4u : 1u); phase++) {
        Template* t = MakeTemplate(picture, liveDpi, phase & 1, phase & 2);
        if (!t) {
            ReleaseTemplates(set);
            return false;
        }
        set->each[set->count++] = t;
    }
    return true;
}

uint16_t* LiveCodesOf(const PixelArea& live, const Template& t) {
    uint16_t* codes = new (std::nothrow) uint16_t[static_cast<size_t>(live.width) * live.height];
    if (codes && !Codes(live.pixels, live.width, live.height, t.near, codes)) {
        delete[] codes;
        codes = nullptr;
    }
    return codes;
}

}  // namespace picture
}  // namespace journal
