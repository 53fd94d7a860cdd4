// The inner pieces of the screen pictures, shared by their files: a picture and the live screen
// as steps in brightness between neighbouring pixels, and the templates a picture is drawn as on
// the live monitor (picture_steps.cpp); what the comparison (screen_picture.cpp) lends the search
// (picture_search.cpp).
#pragma once

#include <cstdint>

#include "journal/screen_picture.h"

namespace journal {
namespace picture {

// The code of a pixel: its steps to the pixel on its right (x) and below it (y).
const uint16_t kXStrong = 0x3;  // up, down
const uint16_t kYStrong = 0xC;
// The weak steps, of the same layout 4 bits up: at the pixel itself, or, when pictures are
// compared at two scales, at the pixel before or after it across the step, since scaling moves
// a step by a pixel.
const int kNearShift = 4;
const uint16_t kXUnknown = 0x100;  // a pixel of the pair lies on no monitor, or outside
const uint16_t kYUnknown = 0x200;

// Pictures are compared at scales of a quarter to four times the recorded one.
const uint32_t kLeastSide = kPictureSide / 4;
const uint32_t kMostSide = kPictureSide * 4;
// Steps of the picture tried at each place of a search before it is compared whole: a quarter of
// them may fail, and a quarter of the first few, at which most places fail.
const uint32_t kSamples = 48;
const uint32_t kFirstSamples = 16;

// How many of the steps in `code` bits 0-3 are strong: 0, 1 or 2.
inline uint32_t StrongSteps(uint16_t code) {
    return (code & kXStrong ? 1u : 0u) + (code & kYStrong ? 1u : 0u);
}

// The codes of `width` x `height` pixels; with `near`, a pixel's weak steps across are also
// those of the pixels left and right of it, and its steps down those above and below it. False
// without memory.
bool Codes(const uint32_t* pixels, uint32_t width, uint32_t height, bool near, uint16_t* codes);

// The picture as it would be drawn on the live monitor: scaled to `side` pixels a side, coded,
// with the weight of each pixel and the steps a search tries first.
struct Template {
    uint32_t side;
    uint32_t centre;
    bool near;
    uint32_t caretLeast;  // rows of a caret, at this scale
    uint32_t strongWeight;
    uint16_t codes[kMostSide * kMostSide];
    uint8_t weights[kMostSide * kMostSide];
    uint32_t samples;
    uint32_t sampleX[kSamples];
    uint32_t sampleY[kSamples];
    uint16_t sampleNeed[kSamples];
};

// The picture's side on a monitor of `liveDpi`.
uint32_t ScaledSide(uint32_t pictureDpi, uint32_t liveDpi);
// The pixel the press point falls in, at `side`: the middle of the picture's centre pixel.
uint32_t ScaledCentre(uint32_t side);

// The picture at the live scale. Scaled, it lies on the live pixels at a fraction of a pixel
// that a search cannot tell: it is drawn four times, moved by half a pixel across, down, and
// both, and compared as the best of them.
struct Templates {
    uint32_t count;
    Template* each[4];
};

void ReleaseTemplates(Templates* set);
// False without memory; then it holds none.
bool MakeTemplates(const ScreenPicture& picture, uint32_t liveDpi, Templates* set);

// The live screen's codes.
struct LiveCodes {
    const uint16_t* codes;
    int32_t width;
    int32_t height;
};

// The live area's codes, for the template's scale; null without memory.
uint16_t* LiveCodesOf(const PixelArea& live, const Template& t);

// Whether the best of the templates matches the live screen at (ox, oy), their top left there;
// `quality` is the share of missed steps, in 1/1024 (lower is better).
bool Matches(const Templates& set, const LiveCodes& live, int32_t ox, int32_t oy,
             uint32_t* quality);

// The picture's templates and the live pixels' codes for them; false for a plain picture or
// without memory.
struct Prepared {
    Templates set;
    uint16_t* codes;
    LiveCodes live;
    int32_t centre;
};

bool Prepare(const ScreenPicture& picture, const PixelArea& live, uint32_t liveDpi,
             Prepared* prepared);
void Release(Prepared* prepared);

}  // namespace picture
}  // namespace journal
