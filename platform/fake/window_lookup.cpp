#include "platform/fake/fake_window_lookup.h"

namespace fake {

namespace {

struct LookupState {
    std::vector<TopWindow> windows;
    platform::WindowHandle foreground = nullptr;
    int describes = 0;
};

LookupState& L() {
    static LookupState state;
    return state;
}

const TopWindow* Find(platform::WindowHandle handle) {
    for (const TopWindow& w : L().windows)
        if (w.handle == handle)
            return &w;
    return nullptr;
}

}  // namespace

void SetTopWindows(const std::vector<TopWindow>& windows) {
    L().windows = windows;
}
void SetForegroundWindow(platform::WindowHandle window) {
    L().foreground = window;
}
int DescribeCount() {
    return L().describes;
}
void ResetTopWindows() {
    L() = LookupState();
}

}  // namespace fake

namespace platform {

WindowHandle RootWindowAt(int32_t x, int32_t y) {
    for (const fake::TopWindow& w : fake::L().windows) {
        const WindowRect& r = w.info.rect;
        if (x >= r.left && x < r.right && y >= r.top && y < r.bottom)
            return w.handle;
    }
    return nullptr;
}

WindowHandle ForegroundWindow() {
    return fake::L().foreground;
}

bool WindowBounds(WindowHandle window, WindowRect* rect) {
    const fake::TopWindow* w = fake::Find(window);
    if (w)
        *rect = w->info.rect;
    return w != nullptr;
}

bool DescribeWindow(WindowHandle window, WindowInfo* info) {
    fake::L().describes++;
    const fake::TopWindow* w = fake::Find(window);
    if (w)
        *info = w->info;
    return w != nullptr;
}

uint32_t VisibleWindows(WindowHandle* windows, uint32_t capacity) {
    uint32_t count = 0;
    for (const fake::TopWindow& w : fake::L().windows) {
        if (count < capacity)
            windows[count] = w.handle;
        count++;
    }
    return count;
}

}  // namespace platform
