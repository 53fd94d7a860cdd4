// Pictures of the screen around a press, taken while recording, and the test a replay makes
// with one before its press: does the screen show the same thing where the press goes now, and
// if not, where in the press's window does it show it.
#pragma once

#include <cstdint>

#include "platform/window_lookup.h"

namespace journal {

// The side of a picture, in physical pixels. At 100 % it holds a push button's height and the
// middle of its label, or a check box and the start of its text; at 200 % still a line of a
// label. A larger square takes in more of what changes around a control (a neighbour's text, a
// clock), and costs more in the mouse hook, where the press waits for it, and in every search.
const uint32_t kPictureSide = 32;
const uint32_t kPicturePixels = kPictureSide * kPictureSide;
// The press point is this pixel of the picture, across and down.
const uint32_t kPictureCentre = kPictureSide / 2;

struct ScreenPicture {
    uint32_t dpi;                     // of the monitor it was taken on: 96 at 100 %; 0 when unknown
    bool plain;                       // too little in it to recognise: its press gets no test
    uint32_t pixels[kPicturePixels];  // row by row from the top, as platform::TakeScreen gives
};

// Pixels as platform::TakeScreen gives them, the first of them at (left, top) of the screen.
struct PixelArea {
    const uint32_t* pixels;
    int32_t left;
    int32_t top;
    uint32_t width;
    uint32_t height;
};

// Takes the picture of a press at (x, y): one blit of the square, so it fits in a low-level
// mouse hook. False when the screen could not be read; the picture is then plain.
bool TakePicture(int32_t x, int32_t y, ScreenPicture* picture);

// Too little in the pixels to recognise them by: a flat area, a line alone, a text field's
// middle with or without its caret.
bool IsPlain(const uint32_t* pixels);

// What a replay finds before a press.
enum class PictureCheck {
    kMatches,  // the screen shows the picture where the press goes, or nothing can be told (a
               // plain picture, a screen that cannot be read, no memory)
    kMoved,    // it shows it elsewhere in the window: the press goes to the point given
    kMissing,  // it shows it nowhere in the window: look again a little later
};

// The test before the press recorded with `picture`, now going to (x, y) in the top-level window
// whose rectangle is `window` (an empty one when there is none: the point alone is tested).
// Takes the screen around the point and, when the picture is not there, the window's
// rectangle; kMoved writes the same point of the picture where it was found: of several equally
// good matches the one nearest (x, y), a worse one being another control that looks alike. A
// look at a 1000 x 700 window costs a few tens of ms at most.
PictureCheck LocatePicture(const ScreenPicture& picture, int32_t x, int32_t y,
                           const platform::WindowRect& window, int32_t* pressX, int32_t* pressY);

// The two tests LocatePicture makes, on pixels already taken, at the ratio of `liveDpi` to the
// picture's dpi. `live` for PictureMatches is the screen around the point (what lies outside it
// counts as unknown); for FindPicture, the area searched, wherever the picture lies wholly in
// it. False for a plain picture, which nothing can be told by.
bool PictureMatches(const ScreenPicture& picture, const PixelArea& live, uint32_t liveDpi,
                    int32_t x, int32_t y);
bool FindPicture(const ScreenPicture& picture, const PixelArea& live, uint32_t liveDpi,
                 int32_t expectedX, int32_t expectedY, int32_t* x, int32_t* y);

}  // namespace journal
