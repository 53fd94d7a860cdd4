// A picture is compared by its steps in brightness between neighbouring pixels, not by its
// colours: what changes without meaning on a screen (a hover's shade, a focus or hover border
// in another colour, text smoothing) weakens or strengthens a step but leaves it where it was
// and keeps its sign, while other text, another icon or another control puts steps elsewhere.
#include "journal/screen_picture.h"

#include <cstddef>
#include <initializer_list>
#include <new>

#include "platform/screen.h"

namespace journal {

namespace {

// Brightness is R + 2G + B (0-1020). A strong step means something (ink on paper, a border);
// the other side agrees with it when it has a weak step of the same sign there.
const int32_t kStrongStep = 112;  // 28 grey levels
const int32_t kWeakStep = 32;     // 8 grey levels

// The code of a pixel: its steps to the pixel on its right (x) and below it (y).
const uint16_t kXStrong = 0x3;  // up, down
const uint16_t kYStrong = 0xC;
// The weak steps, of the same layout 4 bits up: at the pixel itself, or, when pictures are
// compared at two scales, at the pixel before or after it across the step, since scaling moves
// a step by a pixel.
const int kNearShift = 4;
const uint16_t kXUnknown = 0x100;  // a pixel of the pair lies on no monitor, or outside
const uint16_t kYUnknown = 0x200;

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
// Of the matches a search finds, those this close to the best (in 1/1024 of the steps
// compared) are equally good: the one nearest the press is taken. A worse match elsewhere is
// another control that looks alike.
const uint32_t kEqualQuality = 64;
const uint32_t kMostCandidates = 4096;

// Pictures are compared at scales of a quarter to four times the recorded one.
const uint32_t kLeastSide = kPictureSide / 4;
const uint32_t kMostSide = kPictureSide * 4;
// Steps of the picture tried at each place of a search before it is compared whole: a quarter of
// them may fail, and a quarter of the first few, at which most places fail.
const uint32_t kSamples = 48;
const uint32_t kFirstSamples = 16;
// The screen taken around a point, beyond the picture, so that steps at its edge are known.
const uint32_t kMargin = 2;
// Larger windows are searched only this far around the press.
const uint32_t kLargestSearch = 4096;

// How many of the steps in `code` bits 0-3 are strong: 0, 1 or 2.
uint32_t StrongSteps(uint16_t code) {
    return (code & kXStrong ? 1u : 0u) + (code & kYStrong ? 1u : 0u);
}

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

// The codes of `width` x `height` pixels; with `near`, a pixel's weak steps across are also
// those of the pixels left and right of it, and its steps down those above and below it. False
// without memory.
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
uint32_t ScaledSide(uint32_t pictureDpi, uint32_t liveDpi) {
    if (!pictureDpi || !liveDpi)
        return kPictureSide;
    uint64_t side = (static_cast<uint64_t>(kPictureSide) * liveDpi + pictureDpi / 2) / pictureDpi;
    return side < kLeastSide  ? kLeastSide
           : side > kMostSide ? kMostSide
                              : static_cast<uint32_t>(side);
}

// The pixel the press point falls in, at `side`: the middle of the picture's centre pixel.
uint32_t ScaledCentre(uint32_t side) {
    return (2 * kPictureCentre + 1) * side / (2 * kPictureSide);
}

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
    uint32_t coversX[6], coversY[6], firstX, firstY;
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

// The strong steps a search tries first: near the press first, and spread: few steps across
// from any one column, so that a caret that came or went fails only a few of them, and few
// steps down from any one row, so that a line does not pass wherever a line is.
void ChooseSamples(Template* t) {
    uint32_t count = t->side * t->side;
    uint8_t perColumn[kMostSide] = {}, perRow[kMostSide] = {};
    uint8_t taken[kMostSide * kMostSide] = {};  // kinds of step taken at each pixel
    t->samples = 0;
    for (uint32_t weight = 4; weight >= 1; weight /= 2) {
        for (uint32_t most = 1; most <= 3; most++) {
            for (uint32_t k = 0; k < count && t->samples < kSamples; k++) {
                uint32_t at = static_cast<uint32_t>(k * 131ull % count);  // 131: prime, > side
                uint32_t x = at % t->side, y = at / t->side;
                if (t->weights[at] != weight)
                    continue;
                for (uint16_t kind : {kXStrong, kYStrong}) {
                    uint16_t strong = t->codes[at] & kind;
                    uint8_t& line = kind == kXStrong ? perColumn[x] : perRow[y];
                    if (!strong || (taken[at] & kind) || line >= most || t->samples == kSamples)
                        continue;
                    uint16_t unknown = kind == kXStrong ? kXUnknown : kYUnknown;
                    t->sampleX[t->samples] = x;
                    t->sampleY[t->samples] = y;
                    t->sampleNeed[t->samples] =
                        static_cast<uint16_t>(strong << kNearShift | unknown);
                    t->samples++;
                    taken[at] = static_cast<uint8_t>(taken[at] | kind);
                    line++;
                }
            }
        }
    }
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

// The picture at the live scale. Scaled, it lies on the live pixels at a fraction of a pixel
// that a search cannot tell: it is drawn four times, moved by half a pixel across, down, and
// both, and compared as the best of them.
struct Templates {
    uint32_t count;
    Template* each[4];
};

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

// The live screen's codes.
struct LiveCodes {
    const uint16_t* codes;
    int32_t width;
    int32_t height;
};

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

// The same for the best of the templates.
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

// The live area's codes, for the template's scale; null without memory.
uint16_t* LiveCodesOf(const PixelArea& live, const Template& t) {
    uint16_t* codes = new (std::nothrow) uint16_t[static_cast<size_t>(live.width) * live.height];
    if (codes && !Codes(live.pixels, live.width, live.height, t.near, codes)) {
        delete[] codes;
        codes = nullptr;
    }
    return codes;
}

int64_t Distance2(int64_t dx, int64_t dy) {
    return dx * dx + dy * dy;
}

struct Candidate {
    int32_t x, y;      // the template's top left in the live area
    uint32_t quality;  // as Matches gives it
};

// Drops the candidates that are no longer as good as the best; returns how many are left.
uint32_t KeepEqual(Candidate* candidates, uint32_t count, uint32_t best) {
    uint32_t kept = 0;
    for (uint32_t i = 0; i < count; i++)
        if (candidates[i].quality <= best + kEqualQuality)
            candidates[kept++] = candidates[i];
    return kept;
}

// The place of the template's top left, in the live area, of the match whose centre is nearest
// (ex, ey) among the best ones. False when there is none.
bool Search(const Templates& set, const LiveCodes& live, int32_t ex, int32_t ey, int32_t* bx,
            int32_t* by) {
    const Template& t = *set.each[0];
    int32_t side = static_cast<int32_t>(t.side), centre = static_cast<int32_t>(t.centre);
    if (live.width < side || live.height < side || !t.samples)
        return false;
    Candidate* candidates = new (std::nothrow) Candidate[kMostCandidates];
    if (!candidates)
        return false;
    int32_t offsets[kSamples];
    for (uint32_t k = 0; k < t.samples; k++)
        offsets[k] =
            static_cast<int32_t>(t.sampleY[k]) * live.width + static_cast<int32_t>(t.sampleX[k]);
    const uint32_t allowed = t.samples / 4;
    const uint32_t firstAllowed = (t.samples < kFirstSamples ? t.samples : kFirstSamples) / 4;
    uint32_t count = 0, best = 1024;
    for (int32_t oy = 0; oy + side <= live.height; oy++) {
        const uint16_t* row = live.codes + static_cast<ptrdiff_t>(oy) * live.width;
        for (int32_t ox = 0; ox + side <= live.width; ox++) {
            // Most places fail at the first few steps tried: only the rest are compared whole.
            const uint16_t* base = row + ox;
            uint32_t failed = 0, k = 0;
            for (; k < t.samples; k++)
                if (!(base[offsets[k]] & t.sampleNeed[k]) &&
                    ++failed > (k < kFirstSamples ? firstAllowed : allowed))
                    break;
            uint32_t quality;
            if (k < t.samples || !Matches(set, live, ox, oy, &quality))
                continue;
            best = quality < best ? quality : best;
            if (quality > best + kEqualQuality)
                continue;
            if (count == kMostCandidates)
                count = KeepEqual(candidates, count, best);
            if (count < kMostCandidates)
                candidates[count++] = {ox, oy, quality};
        }
    }
    count = KeepEqual(candidates, count, best);
    const Candidate* nearest = nullptr;
    int64_t distance = 0;
    for (uint32_t i = 0; i < count; i++) {
        int64_t d = Distance2(candidates[i].x + centre - ex, candidates[i].y + centre - ey);
        if (!nearest || d < distance) {
            nearest = &candidates[i];
            distance = d;
        }
    }
    if (nearest) {
        // A match is found at the places a pixel or two around it as well: the best of them,
        // the middle of those that are equally good (compared at two scales, a step a pixel
        // off still agrees).
        int32_t sumX = 0, sumY = 0, equal = 0;
        uint32_t least = 1025;
        for (uint32_t i = 0; i < count; i++) {
            const Candidate& c = candidates[i];
            if (c.x < nearest->x - 2 || c.x > nearest->x + 2 || c.y < nearest->y - 2 ||
                c.y > nearest->y + 2 || c.quality > least)
                continue;
            if (c.quality < least)
                sumX = sumY = equal = 0;
            least = c.quality;
            sumX += c.x;
            sumY += c.y;
            equal++;
        }
        *bx = (2 * sumX + equal) / (2 * equal);
        *by = (2 * sumY + equal) / (2 * equal);
    }
    delete[] candidates;
    return nearest != nullptr;
}

}  // namespace

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

namespace {

// The picture's templates and the live pixels' codes for them; false for a plain picture or
// without memory.
struct Prepared {
    Templates set;
    uint16_t* codes;
    LiveCodes live;
    int32_t centre;
};

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

}  // namespace

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

bool FindPicture(const ScreenPicture& picture, const PixelArea& live, uint32_t liveDpi,
                 int32_t expectedX, int32_t expectedY, int32_t* x, int32_t* y) {
    Prepared p;
    int32_t ox, oy;
    bool prepared = Prepare(picture, live, liveDpi, &p);
    if (prepared)
        ChooseSamples(p.set.each[0]);
    bool found =
        prepared && Search(p.set, p.live, expectedX - live.left, expectedY - live.top, &ox, &oy);
    if (found) {
        *x = live.left + ox + p.centre;
        *y = live.top + oy + p.centre;
    }
    Release(&p);
    return found;
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
