// The picture a press is recorded with, tested against the fake screen as a replay tests it
// before the press: found at its point, elsewhere in its window, later, or never.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "journal/picture_file.h"
#include "journal/screen_picture.h"
#include "platform/fake/fake_screen.h"

namespace {

using journal::PictureCheck;

struct Image {
    uint32_t width;
    std::vector<uint32_t> pixels;
    uint32_t& at(uint32_t x, uint32_t y) { return pixels[y * width + x]; }
};

Image Filled(uint32_t width, uint32_t height, uint32_t colour) {
    return {width, std::vector<uint32_t>(width * height, colour)};
}

void Frame(Image* image, uint32_t colour) {
    uint32_t height = static_cast<uint32_t>(image->pixels.size()) / image->width;
    for (uint32_t x = 0; x < image->width; x++)
        image->at(x, 0) = image->at(x, height - 1) = colour;
    for (uint32_t y = 0; y < height; y++)
        image->at(0, y) = image->at(image->width - 1, y) = colour;
}

// 5 x 7 glyphs, a byte a row, the leftmost column in bit 4. With `smooth`, grey beside the ink.
void Text(Image* image, uint32_t left, uint32_t top, const char* text, bool smooth = false) {
    static const std::pair<char, std::vector<uint8_t>> kGlyphs[] = {
        {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
        {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}},
        {'N', {0x11, 0x19, 0x15, 0x13, 0x11, 0x11, 0x11}},
        {'o', {0x00, 0x00, 0x0E, 0x11, 0x11, 0x11, 0x0E}},
        {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
        {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
        {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}}};
    for (uint32_t i = 0; text[i]; i++)
        for (const auto& glyph : kGlyphs)
            for (uint32_t y = 0; glyph.first == text[i] && y < 7; y++)
                for (uint32_t x = 0; x < 5; x++)
                    if (glyph.second[y] >> (4 - x) & 1) {
                        image->at(left + 6 * i + x, top + y) = 0x000000;
                        if (smooth && (x == 4 || !(glyph.second[y] >> (3 - x) & 1)))
                            image->at(left + 6 * i + x + 1, top + y) = 0x8C8C8C;
                    }
}

struct Look {
    uint32_t background, border;
};
const Look kNormal = {0xE1E1E1, 0xADADAD};
const Look kHover = {0xE5F1FB, 0x0078D7};  // a shade lighter and bluer, its border blue

Image Button(const char* label, Look look = kNormal, bool smooth = false) {
    Image button = Filled(75, 23, look.background);
    Frame(&button, look.border);
    Text(&button, (75 - (6 * static_cast<uint32_t>(strlen(label)) - 1)) / 2, 8, label, smooth);
    return button;
}

// A text field holding "o", its caret after the text when `caret`.
Image Field(bool caret) {
    Image field = Filled(120, 23, 0xFFFFFF);
    Frame(&field, 0x7A7A7A);
    Text(&field, 4, 8, "o");
    for (uint32_t y = 4; caret && y < 19; y++)
        field.at(11, y) = 0x000000;
    return field;
}

void Paint(int32_t left, int32_t top, const Image& image, double scale = 1,
           uint32_t shownAfter = 0) {
    fake::PaintImage(left, top, image.width, image.pixels, scale, shownAfter);
}

const platform::WindowRect kDialog = {100, 100, 600, 400};

// A notification-area icon, for the clock beside it.
Image Icon() {
    Image icon = Filled(16, 16, 0x3060C0);
    Frame(&icon, 0x203040);
    Text(&icon, 5, 4, "K");
    return icon;
}

void IconAndClock(const char* time) {
    Paint(400, 300, Icon());
    Image clock = Filled(12, 18, 0xF0F0F0);  // two lines of it
    Text(&clock, 0, 1, time);
    Text(&clock, 0, 10, time);
    Paint(416, 299, clock);
}

const PictureCheck kMatches = PictureCheck::kMatches, kMoved = PictureCheck::kMoved,
                   kMissing = PictureCheck::kMissing;

// The scenes of the cases, over the dialog.
void Nothing() {}
void OkButton() {
    Paint(200, 200, Button("OK"));
}
void HoveredButton() {
    Paint(200, 200, Button("OK", kHover));
}
void SmoothedButton() {
    Paint(200, 200, Button("OK", kNormal, true));
}
void NoButton() {
    Paint(200, 200, Button("No"));
}
void MovedButton() {
    Paint(300, 260, Button("OK"));
}
void TwoButtons() {
    Paint(200, 130, Button("OK"));
    Paint(200, 250, Button("OK"));
}
void LateButton() {
    Paint(200, 200, Button("OK"), 1, 4);
}
void FieldWithCaret() {
    Paint(200, 200, Field(true));
}
void FieldWithout() {
    Paint(200, 200, Field(false));
}
void ClockAt59() {
    IconAndClock("59");
}
void ClockAt00() {
    IconAndClock("00");
}
void AtTheEdge() {
    Paint(-30, 200, Button("OK"));
}
void EdgeOfTwo() {
    fake::SetMonitors({{{-800, 0, 0, 600}, 96}, {{0, 0, 1000, 700}, 96}});
    fake::PaintRect({-800, 0, 0, 600}, 0x000080);
    AtTheEdge();
}
const platform::WindowRect kEdge = {-40, 100, 500, 400};
// The dialog and its button at 150 %, and the button moved.
const platform::WindowRect kLarge = {150, 150, 900, 600};
void LargeButton(int32_t left, int32_t top) {
    fake::SetMonitors({{{0, 0, 1500, 1050}, 144}});
    fake::PaintRect(kLarge, 0xF0F0F0);
    Paint(left, top, Button("OK"), 1.5);
}
void LargeButton() {
    LargeButton(300, 300);
}
void LargeMoved() {
    LargeButton(450, 390);
}

// Pressed, unless a case says otherwise, on the OK button at 200,200 of the dialog.
struct Case {
    const char* name;
    void (*replayed)();
    std::vector<PictureCheck> looks;  // the answers of successive looks
    int32_t pressX = 0, pressY = 0;   // where kMoved sends the press, within a pixel
    void (*recorded)() = OkButton;
    int32_t x = 237, y = 211;      // the press recorded
    int32_t liveX = 0, liveY = 0;  // the press replayed, when not at (x, y)
    platform::WindowRect window = kDialog;
    bool plain = false;  // its picture is plain
};

const Case kCases[] = {
    {"the same button", OkButton, {kMatches}},
    {"the caret gone", FieldWithout, {kMatches}, 0, 0, FieldWithCaret, 212, 211},
    {"the button under the pointer", HoveredButton, {kMatches}},
    {"its text smoothed", SmoothedButton, {kMatches}},
    {"a clock's digits changed at the edge", ClockAt00, {kMatches}, 0, 0, ClockAt59, 408, 308},
    {"another label", NoButton, {kMissing}},
    {"moved in its window", MovedButton, {kMoved}, 337, 271},
    {"two of it: the nearer", TwoButtons, {kMoved}, 237, 261},
    {"drawn late", LateButton, {kMissing, kMissing, kMatches}},
    {"never drawn", Nothing, {kMissing, kMissing, kMissing}},
    {"flat: not tested", OkButton, {kMatches}, 0, 0, Nothing, 237, 211, 0, 0, kDialog, true},
    {"half on no monitor, then one", EdgeOfTwo, {kMatches}, 0, 0, AtTheEdge, 6, 211, 0, 0, kEdge},
    {"at 150 %", LargeButton, {kMatches}, 0, 0, OkButton, 237, 211, 356, 317, kLarge},
    {"at 150 %, moved", LargeMoved, {kMoved}, 506, 407, OkButton, 237, 211, 356, 317, kLarge},
};

TEST(ScreenPicture, FoundWhereAndWhenItIs) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        fake::ResetScreen();
        fake::PaintRect(kDialog, 0xF0F0F0);
        c.recorded();
        journal::ScreenPicture picture;
        ASSERT_TRUE(journal::TakePicture(c.x, c.y, &picture));
        EXPECT_EQ(c.plain, picture.plain);
        fake::ResetScreen();
        fake::PaintRect(kDialog, 0xF0F0F0);
        c.replayed();
        std::vector<PictureCheck> looks;
        int32_t pressX = 0, pressY = 0;
        for (size_t i = 0; i < c.looks.size(); i++)
            looks.push_back(journal::LocatePicture(picture, c.liveX ? c.liveX : c.x,
                                                   c.liveY ? c.liveY : c.y, c.window, &pressX,
                                                   &pressY));
        EXPECT_EQ(c.looks, looks);
        if (c.looks.back() == kMoved) {
            EXPECT_NEAR(c.pressX, pressX, 1);
            EXPECT_NEAR(c.pressY, pressY, 1);
        }
    }
}

journal::ScreenPicture PictureOf(const std::function<void()>& paint, int32_t x, int32_t y) {
    fake::ResetScreen();
    paint();
    journal::ScreenPicture picture;
    journal::TakePicture(x, y, &picture);
    return picture;
}

TEST(ScreenPicture, BytesGiveBackThePictureAndItsBmp) {
    Image noise = Filled(32, 32, 0);
    for (uint32_t i = 0; i < noise.pixels.size(); i++)
        noise.pixels[i] = (i * 2654435761u) >> 8;
    const journal::ScreenPicture pictures[] = {
        PictureOf([] { Paint(200, 200, Button("OK")); }, 237, 211), PictureOf([] {}, 237, 211),
        PictureOf([&] { Paint(200, 200, noise); }, 216, 216),
        PictureOf([] { Paint(0, 200, Field(true)); }, 10, 211),  // its left on no monitor
    };
    for (const journal::ScreenPicture& picture : pictures) {
        uint8_t bytes[journal::kLargestPicture + 1];
        uint32_t size = journal::EncodePicture(picture, bytes);
        EXPECT_LE(size, journal::kLargestPicture);
        journal::ScreenPicture back;
        EXPECT_EQ(size, journal::DecodePicture(bytes, size + 1, &back));
        EXPECT_EQ(picture.dpi, back.dpi);
        EXPECT_EQ(picture.plain, back.plain);
        EXPECT_EQ(0, memcmp(picture.pixels, back.pixels, sizeof back.pixels));
    }
    uint8_t bmp[journal::kPictureBmpSize];
    journal::WritePictureBmp(pictures[0], bmp);
    EXPECT_EQ(0, memcmp(bmp, "BM", 2));
    // Bottom-up: the button's bottom border is the picture's row 27, the file's fifth.
    EXPECT_EQ(0xF0u, bmp[54 + 3 * 16]);
    EXPECT_EQ(0xADu, bmp[54 + 4 * 96 + 3 * 16]);
}

// A picture's bytes: the head, with the size of `body` unless told, then `body`.
std::string Bytes(const std::string& body, uint8_t format = 1, uint8_t side = 32, uint8_t flags = 0,
                  int32_t bodySize = -1) {
    uint32_t size =
        bodySize < 0 ? static_cast<uint32_t>(body.size()) : static_cast<uint32_t>(bodySize);
    return std::string{static_cast<char>(format),
                       static_cast<char>(side),
                       static_cast<char>(flags),
                       96,
                       0,
                       static_cast<char>(size & 0xFF),
                       static_cast<char>(size >> 8)} +
           body;
}

// A run: a byte of its kind and its length less one, then its colours.
std::string RunBytes(uint8_t kind, uint32_t length, uint32_t colours = 0) {
    return std::string(1, static_cast<char>(static_cast<uint32_t>(kind) << 6 | (length - 1)))
        .append(3 * colours, '\x40');
}

std::string Repeats(uint32_t count) {
    std::string runs;
    for (uint32_t i = 0; i < count; i++)
        runs += RunBytes(1, 64, 1);
    return runs;
}

TEST(ScreenPicture, DamagedBytesAreRefused) {
    const std::string flat = Repeats(16);
    const std::pair<const char*, std::string> kDamaged[] = {
        {"", Bytes(flat)},  // whole: it decodes
        {"short", Bytes(flat).substr(0, 6)},
        {"another format", Bytes(flat, 2)},
        {"another side", Bytes(flat, 1, 31)},
        {"unknown flags", Bytes(flat, 1, 32, 2)},
        {"a body past the end", Bytes(flat, 1, 32, 0, 65)},
        {"a body larger than any", Bytes(flat + std::string(3025, '\0'))},
        {"a run past the picture", Bytes(RunBytes(2, 32) + Repeats(15) + RunBytes(1, 64, 1))},
        {"colours past the body", Bytes(Repeats(15) + RunBytes(0, 64, 0))},
        {"from above in the first row", Bytes(RunBytes(2, 31) + RunBytes(3, 2) + Repeats(15))},
        {"a body short of the picture", Bytes(Repeats(15))},
        {"bytes after the picture", Bytes(flat + RunBytes(2, 1))},
    };
    for (const auto& c : kDamaged) {
        SCOPED_TRACE(c.first);
        std::vector<uint8_t> bytes(c.second.begin(), c.second.end());
        journal::ScreenPicture picture;
        EXPECT_EQ(
            c.first[0] ? 0u : bytes.size(),
            journal::DecodePicture(bytes.data(), static_cast<uint32_t>(bytes.size()), &picture));
    }
}

}  // namespace
