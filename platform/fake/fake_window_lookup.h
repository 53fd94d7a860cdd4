// Test controls of the fake window lookup: a list of top-level windows on a fake screen.
#pragma once

#include <vector>

#include "platform/window_lookup.h"

namespace fake {

struct TopWindow {
    platform::WindowHandle handle;
    platform::WindowInfo info;
};

// Topmost first: RootWindowAt answers the first whose rectangle holds the point. Forgotten by
// ResetWindows.
void SetTopWindows(const std::vector<TopWindow>& windows);
void SetForegroundWindow(platform::WindowHandle window);
// How often DescribeWindow was asked since the last reset.
int DescribeCount();
void ResetTopWindows();

}  // namespace fake
