#include "journal/picture_file.h"

#include <cstring>

#include "journal/little_endian.h"
#include "platform/screen.h"

namespace journal {

namespace {

enum RunKind : uint8_t { kPixels = 0, kRepeat = 1, kUnknown = 2, kAbove = 3 };

uint8_t* PutColour(uint8_t* at, uint32_t pixel) {
    at[0] = static_cast<uint8_t>(pixel >> 16);
    at[1] = static_cast<uint8_t>(pixel >> 8);
    at[2] = static_cast<uint8_t>(pixel);
    return at + 3;
}

uint32_t GetColour(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) << 16 | static_cast<uint32_t>(at[1]) << 8 | at[2];
}

// How many pixels from `at` on equal the one `back` pixels before each, up to a run's length.
uint32_t RunOf(const uint32_t* pixels, uint32_t at, uint32_t back) {
    uint32_t length = 0;
    while (at + length < kPicturePixels && length < kLongestRun && at + length >= back &&
           pixels[at + length] == pixels[at + length - back])
        length++;
    return length;
}

uint8_t* PutRun(uint8_t* at, RunKind kind, uint32_t length) {
    *at = static_cast<uint8_t>(static_cast<uint32_t>(kind) << 6 | (length - 1));
    return at + 1;
}

// The runs of the pixels, each the cheapest at its start: from above or of unknown pixels (1
// byte), a repeat (4 bytes), else pixels as they are until such a run would begin. With
// `plainly`, only unknown pixels and pixels as they are: never more than kLargestPictureBody.
uint32_t EncodeBody(const uint32_t* pixels, bool plainly, uint8_t* body) {
    uint8_t* out = body;
    uint32_t at = 0;
    while (at < kPicturePixels) {
        uint32_t above = plainly ? 0 : RunOf(pixels, at, kPictureSide);
        uint32_t same = 1 + RunOf(pixels, at + 1, 1);
        same = same > kLongestRun ? kLongestRun : same;
        if (platform::IsUnknownPixel(pixels[at]) && same >= above) {
            out = PutRun(out, kUnknown, same);
            at += same;
        } else if (above && above >= same) {
            out = PutRun(out, kAbove, above);
            at += above;
        } else if (same >= 2 && !plainly) {
            out = PutColour(PutRun(out, kRepeat, same), pixels[at]);
            at += same;
        } else {
            uint8_t* control = out++;
            uint32_t length = 0;
            while (at < kPicturePixels && length < kLongestRun &&
                   !platform::IsUnknownPixel(pixels[at]) &&
                   (length == 0 || plainly ||
                    (RunOf(pixels, at, kPictureSide) == 0 && RunOf(pixels, at + 1, 1) == 0))) {
                out = PutColour(out, pixels[at++]);
                length++;
            }
            PutRun(control, kPixels, length);
        }
    }
    return static_cast<uint32_t>(out - body);
}

}  // namespace

uint32_t EncodePicture(const ScreenPicture& picture, uint8_t* bytes) {
    // A run of one pixel costs 4 bytes, so the cheapest runs may still take more than the
    // pixels given plainly.
    uint8_t body[4 * kPicturePixels];
    uint32_t size = EncodeBody(picture.pixels, false, body);
    if (size > kLargestPictureBody)
        size = EncodeBody(picture.pixels, true, body);
    bytes[0] = kPictureFormat;
    bytes[1] = static_cast<uint8_t>(kPictureSide);
    bytes[2] = picture.plain ? 1 : 0;
    PutU16(bytes + 3, picture.dpi > 0xFFFF ? 0 : picture.dpi);
    PutU16(bytes + 5, size);
    memcpy(bytes + kPictureHead, body, size);
    return kPictureHead + size;
}

uint32_t DecodePicture(const uint8_t* bytes, uint32_t size, ScreenPicture* picture) {
    if (size < kPictureHead || bytes[0] != kPictureFormat || bytes[1] != kPictureSide ||
        (bytes[2] & ~1u))
        return 0;
    uint32_t bodySize = GetU16(bytes + 5);
    if (bodySize > kLargestPictureBody || bodySize > size - kPictureHead)
        return 0;
    picture->plain = bytes[2] & 1;
    picture->dpi = GetU16(bytes + 3);
    const uint8_t* body = bytes + kPictureHead;
    uint32_t read = 0, at = 0;
    while (read < bodySize && at < kPicturePixels) {
        RunKind kind = static_cast<RunKind>(body[read] >> 6);
        uint32_t length = (body[read] & 0x3Fu) + 1;
        read++;
        uint32_t colours = kind == kPixels ? length : kind == kRepeat ? 1 : 0;
        if (kPicturePixels - at < length || bodySize - read < 3 * colours ||
            (kind == kAbove && at < kPictureSide))
            return 0;
        for (uint32_t i = 0; i < length; i++, at++) {
            uint32_t& pixel = picture->pixels[at];
            switch (kind) {
                case kPixels:
                    pixel = GetColour(body + read + 3 * i);
                    break;
                case kRepeat:
                    pixel = GetColour(body + read);
                    break;
                case kUnknown:
                    pixel = platform::kUnknownPixel;
                    break;
                case kAbove:
                    pixel = picture->pixels[at - kPictureSide];
                    break;
            }
        }
        read += 3 * colours;
    }
    return read == bodySize && at == kPicturePixels ? kPictureHead + bodySize : 0;
}

void WritePictureBmp(const ScreenPicture& picture, uint8_t* bytes) {
    memset(bytes, 0, 54);
    bytes[0] = 'B';
    bytes[1] = 'M';
    PutU32(bytes + 2, kPictureBmpSize);
    PutU32(bytes + 10, 54);
    PutU32(bytes + 14, 40);
    PutU32(bytes + 18, kPictureSide);
    PutU32(bytes + 22, kPictureSide);  // positive: the bottom row first
    PutU16(bytes + 26, 1);
    PutU16(bytes + 28, 24);
    PutU32(bytes + 34, 3 * kPicturePixels);
    // Pixels a metre: a viewer that honours them shows the picture at its size on the screen.
    uint32_t perMetre = (picture.dpi * 10000 + 127) / 254;
    PutU32(bytes + 38, perMetre);
    PutU32(bytes + 42, perMetre);
    // Rows of 32 pixels are 96 bytes: a multiple of 4, as rows must be, with no padding.
    uint8_t* out = bytes + 54;
    for (uint32_t row = kPictureSide; row-- > 0;) {
        for (uint32_t x = 0; x < kPictureSide; x++) {
            uint32_t pixel = picture.pixels[row * kPictureSide + x];
            if (platform::IsUnknownPixel(pixel))
                pixel = ((x / 4 + row / 4) % 2) ? 0xC0C0C0 : 0xFFFFFF;
            *out++ = static_cast<uint8_t>(pixel);
            *out++ = static_cast<uint8_t>(pixel >> 8);
            *out++ = static_cast<uint8_t>(pixel >> 16);
        }
    }
}

}  // namespace journal
