// A screen picture's bytes in a journal file, and its picture as a BMP file to look at.
//
// A picture takes a 7-byte head: its format (1), its side (32), its flags (bit 0: plain), its
// dpi (16 bits) and the size of its body (16 bits), little-endian; then the body, its pixels
// from the top left in runs. Each run begins with a byte whose top two bits tell its kind and
// whose low six bits hold its length less one (1 to 64 pixels):
//   0  that many pixels follow, 3 bytes each (red, green, blue)
//   1  one pixel follows (3 bytes), repeated that many times
//   2  that many pixels that lay on no monitor
//   3  that many pixels equal to those a row above (never in the first row)
// Controls are drawn in flat colours and straight lines: a picture of a push button and its
// label took 255 bytes at 100 % and 399 at 150 %, one of a line of a label 357 and 422, a text
// field's middle 33 to 40. None takes more than kLargestPicture (3095 bytes), every pixel given
// as it is.
#pragma once

#include <cstdint>

#include "journal/screen_picture.h"

namespace journal {

const uint8_t kPictureFormat = 1;
const uint32_t kPictureHead = 7;
const uint32_t kLongestRun = 64;
const uint32_t kLargestPictureBody = 3 * kPicturePixels + kPicturePixels / kLongestRun;
const uint32_t kLargestPicture = kPictureHead + kLargestPictureBody;

// Writes the picture's bytes, at most kLargestPicture of them, and returns how many.
uint32_t EncodePicture(const ScreenPicture& picture, uint8_t* bytes);
// Reads one picture from the first of `size` bytes and returns how many it took; 0 when they
// are damaged: short, of another format or side, with unknown flags, a body larger than a
// picture can take or running past `size`, a run past the body's end or the picture's, a run
// from above in the first row, or a body that ends before the picture does or after it.
uint32_t DecodePicture(const uint8_t* bytes, uint32_t size, ScreenPicture* picture);

// A 24-bit BMP file of the picture, bottom-up and uncompressed. Pixels that lay on no monitor
// are a grey and white checker.
const uint32_t kPictureBmpSize = 54 + 3 * kPicturePixels;
void WritePictureBmp(const ScreenPicture& picture, uint8_t* bytes);

}  // namespace journal
