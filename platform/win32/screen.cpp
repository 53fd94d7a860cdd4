// The screen service on Win32: a BitBlt from the screen's device context into a DIB section,
// kept only where a monitor is. The program is per-monitor aware, so the screen's coordinates
// are physical pixels, as the events' positions are.
#include <windows.h>

#include "platform/screen.h"
#include "platform/win32/report.h"
#include "platform/win32/scoped.h"
#include "platform/win32/screen_win32.h"

namespace platform {
namespace win32 {

uint32_t MonitorDpi(HMONITOR monitor) {
    typedef HRESULT(WINAPI * MonitorDpiCall)(HMONITOR, int, UINT*, UINT*);
    static MonitorDpiCall monitorDpi = reinterpret_cast<MonitorDpiCall>(
        reinterpret_cast<void*>(GetProcAddress(LoadLibraryA("shcore.dll"), "GetDpiForMonitor")));
    UINT x = 0, y = 0;
    if (monitorDpi && monitor && monitorDpi(monitor, 0 /* MDT_EFFECTIVE_DPI */, &x, &y) == S_OK)
        return x;
    ScopedScreenDc screen;
    int dpi = screen ? GetDeviceCaps(screen.Get(), LOGPIXELSX) : 0;
    return dpi > 0 ? static_cast<uint32_t>(dpi) : 0;
}

}  // namespace win32

namespace {

// What the monitors' enumeration copies: the taken rectangle, the DIB it is blitted into, which
// holds the pixels top-down, and the pixels handed out.
struct Copy {
    RECT taken;
    HDC screen;
    HDC memory;
    const uint32_t* bits;
    uint32_t* pixels;
    bool failed;
};

// Blits the part of the rectangle on one monitor: a blit from beyond the monitors gives black
// for the whole of it under Wine.
BOOL CALLBACK CopyMonitor(HMONITOR, HDC, LPRECT monitor, LPARAM context) {
    Copy* copy = reinterpret_cast<Copy*>(context);
    RECT part;
    if (!IntersectRect(&part, monitor, &copy->taken))
        return TRUE;
    // Layered windows are left out (no CAPTUREBLT): it makes the cursor flicker on some
    // systems, and a picture taken at a press and one taken at its replay see the same.
    if (!BitBlt(copy->memory, part.left - copy->taken.left, part.top - copy->taken.top,
                part.right - part.left, part.bottom - part.top, copy->screen, part.left, part.top,
                SRCCOPY)) {
        win32::ReportLastError("BitBlt", "%ldx%ld at %ld,%ld", part.right - part.left,
                               part.bottom - part.top, part.left, part.top);
        copy->failed = true;
        return FALSE;
    }
    GdiFlush();
    uint32_t width = static_cast<uint32_t>(copy->taken.right - copy->taken.left);
    for (LONG y = part.top; y < part.bottom; y++) {
        size_t row = static_cast<size_t>(y - copy->taken.top) * width;
        for (LONG x = part.left; x < part.right; x++) {
            size_t at = row + static_cast<size_t>(x - copy->taken.left);
            // The DIB's fourth byte is whatever the blit left there.
            copy->pixels[at] = copy->bits[at] & 0x00FFFFFFu;
        }
    }
    return TRUE;
}

}  // namespace

bool TakeScreen(int32_t left, int32_t top, uint32_t width, uint32_t height, uint32_t* pixels) {
    size_t count = static_cast<size_t>(width) * height;
    for (size_t i = 0; i < count; i++)
        pixels[i] = kUnknownPixel;
    if (!count)
        return true;
    if (width > 0x7FFF || height > 0x7FFF) {
        win32::ReportFailure("TakeScreen", ERROR_INVALID_PARAMETER, "%lux%lu",
                             static_cast<unsigned long>(width), static_cast<unsigned long>(height));
        return false;
    }
    win32::ScopedScreenDc screen;
    if (!screen) {
        win32::ReportLastError("GetDC", "the screen");
        return false;
    }
    win32::ScopedMemoryDc memory(screen.Get());
    if (!memory) {
        win32::ReportLastError("CreateCompatibleDC", "the screen");
        return false;
    }
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = static_cast<LONG>(width);
    info.bmiHeader.biHeight = -static_cast<LONG>(height);  // top-down, as the pixels are held
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    win32::ScopedGdiObject bitmap(
        CreateDIBSection(screen.Get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap || !bits) {
        win32::ReportLastError("CreateDIBSection", "%lux%lu", static_cast<unsigned long>(width),
                               static_cast<unsigned long>(height));
        return false;
    }
    win32::ScopedSelection selected(memory.Get(), bitmap.Get());
    if (!selected) {
        win32::ReportLastError("SelectObject", "the DIB section");
        return false;
    }
    Copy copy = {{left, top, left + static_cast<LONG>(width), top + static_cast<LONG>(height)},
                 screen.Get(),
                 memory.Get(),
                 static_cast<const uint32_t*>(bits),
                 pixels,
                 false};
    EnumDisplayMonitors(nullptr, &copy.taken, CopyMonitor, reinterpret_cast<LPARAM>(&copy));
    if (copy.failed)
        for (size_t i = 0; i < count; i++)
            pixels[i] = kUnknownPixel;
    return !copy.failed;
}

uint32_t ScreenDpiAt(int32_t x, int32_t y) {
    POINT point = {x, y};
    return win32::MonitorDpi(MonitorFromPoint(point, MONITOR_DEFAULTTONEAREST));
}

}  // namespace platform
