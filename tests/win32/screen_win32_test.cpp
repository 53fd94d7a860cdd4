// The screen service against a window of the test desktop: it reads back what the window
// painted, at its place, and a picture of it is found there and where it moved to.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "journal/screen_picture.h"
#include "platform/screen.h"

namespace {

const COLORREF kPaper = RGB(0xF0, 0xE0, 0xD0);
const COLORREF kInk = RGB(0x10, 0x20, 0x90);
// Where the window paints its mark, in its client area: `markLeft` moves it.
int markLeft = 20;

LRESULT CALLBACK Paint(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_PAINT)
        return DefWindowProcA(window, message, wParam, lParam);
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    HBRUSH paper = CreateSolidBrush(kPaper), ink = CreateSolidBrush(kInk);
    RECT all = {0, 0, 300, 200};
    FillRect(dc, &all, paper);
    // A frame with two bars in it: enough to be recognised.
    RECT parts[] = {{markLeft, 10, markLeft + 40, 12},     {markLeft, 38, markLeft + 40, 40},
                    {markLeft, 10, markLeft + 2, 40},      {markLeft + 38, 10, markLeft + 40, 40},
                    {markLeft + 8, 18, markLeft + 12, 32}, {markLeft + 20, 22, markLeft + 30, 26}};
    for (const RECT& part : parts)
        FillRect(dc, &part, ink);
    DeleteObject(paper);
    DeleteObject(ink);
    EndPaint(window, &paint);
    return 0;
}

void Settle(HWND window) {
    InvalidateRect(window, nullptr, FALSE);
    UpdateWindow(window);
    GdiFlush();
    for (int i = 0; i < 20; i++) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        Sleep(10);
    }
}

uint32_t Pixel(COLORREF colour) {
    return static_cast<uint32_t>(GetRValue(colour)) << 16 | GetGValue(colour) << 8 |
           GetBValue(colour);
}

TEST(ScreenWin32, ReadsBackWhatAWindowPaintedAtItsPlace) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = Paint;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "ScreenWin32Test";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(WS_EX_TOPMOST, "ScreenWin32Test", "", WS_POPUP | WS_VISIBLE, 120,
                                  80, 300, 200, nullptr, nullptr, windowClass.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    Settle(window);

    // The window and 10 pixels left of the desktop, which lie on no monitor.
    std::vector<uint32_t> pixels(430 * 200);
    ASSERT_TRUE(platform::TakeScreen(-10, 80, 430, 200, pixels.data()));
    auto at = [&](int x, int y) { return pixels[static_cast<size_t>((y - 80) * 430 + (x + 10))]; };
    EXPECT_EQ(platform::kUnknownPixel, at(-1, 100));
    EXPECT_NE(platform::kUnknownPixel, at(0, 100));
    EXPECT_EQ(Pixel(kPaper), at(125, 85));
    EXPECT_EQ(Pixel(kInk), at(140, 90));  // the frame's top, at 20,10 of the window
    EXPECT_EQ(Pixel(kPaper), at(140, 89));
    EXPECT_EQ(Pixel(kInk), at(141, 100));  // its left side
    EXPECT_EQ(Pixel(kPaper), at(143, 100));
    EXPECT_GT(platform::ScreenDpiAt(125, 85), 0u);

    // A picture of the mark is there; moved in its window, it is found where it went.
    journal::ScreenPicture picture;
    ASSERT_TRUE(journal::TakePicture(160, 105, &picture));
    EXPECT_FALSE(picture.plain);
    platform::WindowRect rect = {120, 80, 420, 280};
    int32_t x = 0, y = 0;
    EXPECT_EQ(journal::PictureCheck::kMatches,
              journal::LocatePicture(picture, 160, 105, rect, &x, &y));
    markLeft = 150;
    Settle(window);
    EXPECT_EQ(journal::PictureCheck::kMoved,
              journal::LocatePicture(picture, 160, 105, rect, &x, &y));
    EXPECT_EQ(290, x);
    EXPECT_EQ(105, y);
    DestroyWindow(window);
}

}  // namespace
