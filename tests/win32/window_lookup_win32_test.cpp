// The window lookup against real windows of the test desktop.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/window_lookup.h"

namespace {

TEST(WindowLookupWin32, APointInAChildNamesItsTopLevelWindowAndItsProgram) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "LookupWin32Test";
    RegisterClassA(&windowClass);
    HWND top = CreateWindowExA(WS_EX_TOPMOST, "LookupWin32Test", "Lookup target", WS_POPUP, 120, 80,
                               300, 200, nullptr, nullptr, windowClass.hInstance, nullptr);
    ASSERT_NE(top, nullptr);
    HWND child = CreateWindowExA(0, "STATIC", "inner", WS_CHILD | WS_VISIBLE, 10, 10, 100, 50, top,
                                 nullptr, windowClass.hInstance, nullptr);
    ShowWindow(top, SW_SHOWNORMAL);
    UpdateWindow(top);
    ASSERT_NE(child, nullptr);

    EXPECT_EQ(top, platform::RootWindowAt(150, 110));  // over the child
    platform::WindowInfo info;
    ASSERT_TRUE(platform::DescribeWindow(top, &info));
    EXPECT_STREQ("LookupWin32Test", info.windowClass);
    EXPECT_STREQ("Lookup target", info.title);
    EXPECT_STREQ("win32_tests.exe", info.program);
    EXPECT_EQ(120, info.rect.left);
    EXPECT_EQ(280, info.rect.bottom);
    EXPECT_GT(info.dpi, 0u);

    // Listed while shown, and only then.
    auto listed = [top] {
        platform::WindowHandle windows[512];
        uint32_t count = platform::VisibleWindows(windows, 512);
        return std::count(windows, windows + (count < 512 ? count : 512), top) == 1;
    };
    EXPECT_TRUE(listed());
    ShowWindow(top, SW_HIDE);
    EXPECT_FALSE(listed());

    DestroyWindow(top);
    platform::WindowRect rect;
    EXPECT_FALSE(platform::WindowBounds(top, &rect));
}

}  // namespace
