// The comparison of a picture with the screen, by the steps in brightness both show
// (picture_steps.cpp), and the tests a replay makes before a press: whether the screen shows the
// picture at the press, and where in the press's window it does (the search: picture_search.cpp).
#include "journal/screen_picture.h"

#include <cstddef>
#include <new>

#include "journal/picture_steps.h"
#include "platform/screen.h"

namespace journal {

using namespace picture;

namespace {

// Below this many strong steps across, or down, a picture is plain: a caret alone has none
// across its lines, a line alone none along it.
const uint32_t kLeastDetail = 16;

// A picture and the screen match when the steps that either has strongly and the other lacks
// weigh at most a quarter of all the strong steps compared; a fifth when they are compared at
// two scales, where a step may be a pixel off and a wrong match agrees more easily. Steps near
// the press count four times, those of the picture's outer ring once: what lies at its edge (a
// clock's digits, the next control) matters least to where the press goes.
const uint32_t kMissedShare = 4;
const uint32_t kScaledMissedShare = 5;
const uint32_t kLeastCompared = 16;
// The screen taken around a point, beyond the picture, so that steps at its edge are known.
const uint32_t kMargin = 2;
// Larger windows are searched only this far around the press.
const uint32_t kLargestSearch = 4096;

// Template pixels in [left, right) x [top, bottom) that a comparison leaves out.
struct Skip {
    uint32_t left, top, right, bottom;
};

struct Score {
    uint32_t compared;  // the weight of the strong steps known on both sides
    uint32_t missed;    // of those, the weight of steps the other side lacks
};

// Compares the template with the live screen, its top left at (ox, oy) of the live codes. With
// `misses`, marks the template pixels whose step across one side lacks.
Score Compare(const Template& t, const LiveCodes& live, int32_t ox, int32_t oy, const Skip& skip,
              uint8_t* misses) {
    Score score = {0, 0};
    int32_t side = static_cast<int32_t>(t.side);
    int32_t top = oy < 0 ? -oy : 0, left = ox < 0 ? -ox : 0;
    int32_t bottom = live.height - oy < side ? live.height - oy : side;
    int32_t right = live.width - ox < side ? live.width - ox : side;
    for (int32_t y = top; y < bottom; y++) {
        const uint16_t* theirs = live.codes + (static_cast<ptrdiff_t>(oy + y) * live.width + ox);
        for (int32_t x = left; x < right; x++) {
            uint32_t at = static_cast<uint32_t>(y * side + x);
            if (static_cast<uint32_t>(x) >= skip.left && static_cast<uint32_t>(x) < skip.right &&
                static_cast<uint32_t>(y) >= skip.top && static_cast<uint32_t>(y) < skip.bottom)
                continue;
            uint16_t mine = t.codes[at], other = theirs[x];
            uint16_t known = ((mine | other) & kXUnknown ? 0 : kXStrong) |
                             ((mine | other) & kYUnknown ? 0 : kYStrong);
            uint16_t strong = (mine | other) & known;
            if (!strong)
                continue;
            uint16_t missed =
                ((mine & ~(other >> kNearShift)) | (other & ~(mine >> kNearShift))) & known;
            uint32_t weight = t.weights[at];
            score.compared += weight * StrongSteps(strong);
            score.missed += weight * StrongSteps(missed);
            if (misses && (missed & kXStrong))
                misses[at] = 1;
        }
    }
    return score;
}

bool Passes(const Template& t, const Score& score) {
    return score.compared >= kLeastCompared && 2 * score.compared >= t.strongWeight &&
           score.missed * (t.near ? kScaledMissedShare : kMissedShare) <= score.compared;
}

// A caret that one side shows and the other does not: two columns of missed steps across, one
// to three pixels apart, along the same rows for at least t.caretLeast. The longest is left
// out; false when there is none.
bool FindCaret(const Template& t, const uint8_t* misses, Skip* caret) {
    uint32_t side = t.side, longest = 0;
    for (uint32_t x = 0; x + 1 < side; x++) {
        for (uint32_t gap = 1; gap <= 3 && x + gap + 1 < side; gap++) {
            uint32_t run = 0;
            for (uint32_t y = 0; y <= side; y++) {
                if (y < side && misses[y * side + x] && misses[y * side + x + gap]) {
                    run++;
                    continue;
                }
                if (run >= t.caretLeast && run > longest) {
                    longest = run;
                    *caret = {x, y - run > 0 ? y - run - 1 : 0, x + gap + 1, y + 1};
                }
                run = 0;
            }
        }
    }
    return longest > 0;
}

// Whether the template matches the live screen at (ox, oy); `quality` is the share of missed
// steps, in 1/1024 (lower is better).
bool MatchesOne(const Template& t, const LiveCodes& live, int32_t ox, int32_t oy,
                uint32_t* quality) {
    const Skip none = {0, 0, 0, 0};
    Score score = Compare(t, live, ox, oy, none, nullptr);
    // A caret is a thin line: it never makes up half of what a picture differs by.
    if (!Passes(t, score) && score.compared >= kLeastCompared &&
        2 * score.missed <= score.compared) {
        uint8_t* misses = new (std::nothrow) uint8_t[t.side * t.side]();
        Skip caret;
        if (misses) {
            Compare(t, live, ox, oy, none, misses);
            if (FindCaret(t, misses, &caret))
                score = Compare(t, live, ox, oy, caret, nullptr);
        }
        delete[] misses;
    }
    *quality = score.compared ? score.missed * 1024 / score.compared : 1024;
    return Passes(t, score);
}

}  // namespace

namespace picture {

bool Matches(const Templates& set, const LiveCodes& live, int32_t ox, int32_t oy,
             uint32_t* quality) {
    bool matches = false;
    *quality = 1024;
    for (uint32_t i = 0; i < set.count; i++) {
        uint32_t one;
        if (MatchesOne(*set.each[i], live, ox, oy, &one) && one <= *quality) {
            matches = true;
            *quality = one;
        }
    }
    return matches;
}

bool Prepare(const ScreenPicture& picture, const PixelArea& live, uint32_t liveDpi,
             Prepared* prepared) {
    prepared->codes = nullptr;
    prepared->set.count = 0;
    if (picture.plain || !MakeTemplates(picture, liveDpi, &prepared->set))
        return false;
    const Template& t = *prepared->set.each[0];
    prepared->codes = LiveCodesOf(live, t);
    prepared->live = {prepared->codes, static_cast<int32_t>(live.width),
                      static_cast<int32_t>(live.height)};
    prepared->centre = static_cast<int32_t>(t.centre);
    return prepared->codes != nullptr;
}

void Release(Prepared* prepared) {
    ReleaseTemplates(&prepared->set);
    delete[] prepared->codes;
}

}  // namespace picture

bool IsPlain(const uint32_t* pixels) {
    uint16_t codes[kPicturePixels];
    if (!Codes(pixels, kPictureSide, kPictureSide, false, codes))
        return true;
    uint32_t across = 0, down = 0;
    for (uint16_t code : codes) {
        across += code & kXStrong ? 1 : 0;
        down += code & kYStrong ? 1 : 0;
    }
    return across < kLeastDetail || down < kLeastDetail;
}

bool TakePicture(int32_t x, int32_t y, ScreenPicture* picture) {
    picture->dpi = platform::ScreenDpiAt(x, y);
    const int32_t back = static_cast<int32_t>(kPictureCentre);
    bool taken =
        platform::TakeScreen(x - back, y - back, kPictureSide, kPictureSide, picture->pixels);
    picture->plain = !taken || IsPlain(picture->pixels);
    return taken;
}

bool PictureMatches(const ScreenPicture& picture, const PixelArea& live, uint32_t liveDpi,
                    int32_t x, int32_t y) {
    Prepared p;
    uint32_t quality;
    bool matches =
        Prepare(picture, live, liveDpi, &p) &&
        Matches(p.set, p.live, x - live.left - p.centre, y - live.top - p.centre, &quality);
    Release(&p);
    return matches;
}

namespace {

// Takes the screen and hands it to `test`; true (nothing can be told) when it cannot be read.
template <typename Test>
bool WithScreen(int32_t left, int32_t top, uint32_t width, uint32_t height, bool* taken,
                Test test) {
    uint32_t* pixels = new (std::nothrow) uint32_t[static_cast<size_t>(width) * height];
    *taken = pixels && platform::TakeScreen(left, top, width, height, pixels);
    bool result = *taken && test(PixelArea{pixels, left, top, width, height});
    delete[] pixels;
    return result;
}

int32_t Clamp(int32_t value, int32_t low, int32_t high) {
    return value < low ? low : value > high ? high : value;
}

}  // namespace

PictureCheck LocatePicture(const ScreenPicture& picture, int32_t x, int32_t y,
                           const platform::WindowRect& window, int32_t* pressX, int32_t* pressY) {
    if (picture.plain)
        return PictureCheck::kMatches;
    uint32_t liveDpi = platform::ScreenDpiAt(x, y);
    uint32_t side = ScaledSide(picture.dpi, liveDpi);
    int32_t back = static_cast<int32_t>(ScaledCentre(side) + kMargin);
    int32_t ahead = static_cast<int32_t>(side + 2 * kMargin) - back;
    bool taken;
    bool here = WithScreen(
        x - back, y - back, side + 2 * kMargin, side + 2 * kMargin, &taken,
        [&](const PixelArea& live) { return PictureMatches(picture, live, liveDpi, x, y); });
    if (here || !taken)
        return PictureCheck::kMatches;
    if (window.right <= window.left || window.bottom <= window.top)
        return PictureCheck::kMissing;
    // The picture may reach past the window's edge where its point lies near it.
    const int32_t reach = static_cast<int32_t>(kLargestSearch / 2);
    int32_t left = Clamp(window.left, x - reach, x) - back;
    int32_t top = Clamp(window.top, y - reach, y) - back;
    int32_t right = Clamp(window.right, x, x + reach) + ahead;
    int32_t bottom = Clamp(window.bottom, y, y + reach) + ahead;
    bool found =
        WithScreen(left, top, static_cast<uint32_t>(right - left),
                   static_cast<uint32_t>(bottom - top), &taken, [&](const PixelArea& live) {
                       return FindPicture(picture, live, liveDpi, x, y, pressX, pressY);
                   });
    if (!taken)
        return PictureCheck::kMatches;
    return found ? PictureCheck::kMoved : PictureCheck::kMissing;
}

}  // namespace journal
