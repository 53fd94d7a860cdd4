// The search for a picture in the press's window, where the screen does not show it at the
// press: every place is tried at a few of the picture's strong steps first, and of the matches
// as good as the best, the one nearest the press is taken.
#include <cstddef>
#include <initializer_list>
#include <new>

#include "journal/picture_steps.h"
#include "journal/screen_picture.h"

namespace journal {

using namespace picture;

namespace {

// Of the matches a search finds, those this close to the best (in 1/1024 of the steps
// compared) are equally good: the one nearest the press is taken. A worse match elsewhere is
// another control that looks alike.
const uint32_t kEqualQuality = 64;
const uint32_t kMostCandidates = 4096;

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

}  // namespace journal
