#include "journal/window_follow.h"

#include <cstring>
#include <new>

#include "platform/window.h"

namespace journal {

namespace {

// WM_QUIT: injected as nothing, and never a wait.
const uint32_t kNotInput = 0x0012;
// Windows beyond this many on the screen are not looked through.
const uint32_t kMostListed = 512;

bool IsKey(uint32_t kind) {
    return kind >= WM_KEYDOWN && kind <= WM_SYSKEYUP;
}

bool IsMouse(uint32_t kind) {
    return kind >= WM_MOUSEMOVE && kind <= WM_MOUSEHWHEEL;
}

// The bit of the button that a mouse message presses or lets go of, with `down` telling which;
// 0 for a move or a wheel. Each button has its down, up and double-click messages in a row; the
// X buttons share theirs and tell which one in the message's upper bits (0 counts as the first).
uint32_t ButtonOf(uint32_t message, bool* down) {
    uint32_t kind = message & 0xFFFF;
    uint32_t button, step;
    if (kind >= WM_LBUTTONDOWN && kind < WM_LBUTTONDOWN + 9) {
        button = (kind - WM_LBUTTONDOWN) / 3;
        step = (kind - WM_LBUTTONDOWN) % 3;
    } else if (kind >= WM_XBUTTONDOWN && kind < WM_XBUTTONDOWN + 3) {
        button = (message >> 16) == 2 ? 4 : 3;
        step = kind - WM_XBUTTONDOWN;
    } else {
        return 0;
    }
    *down = step != 1;
    return 1u << button;
}

bool SameName(const platform::WindowInfo& a, const platform::WindowInfo& b) {
    return strcmp(a.program, b.program) == 0 && strcmp(a.windowClass, b.windowClass) == 0 &&
           strcmp(a.title, b.title) == 0;
}

// A distance on the recorded monitor measured again on the live one.
int32_t Rescale(int32_t distance, uint32_t recordedDpi, uint32_t liveDpi) {
    if (!recordedDpi || !liveDpi || recordedDpi == liveDpi)
        return distance;
    int64_t scaled = static_cast<int64_t>(distance) * liveDpi;
    int64_t half = recordedDpi / 2;
    return static_cast<int32_t>((scaled >= 0 ? scaled + half : scaled - half) / recordedDpi);
}

// Same program and class, the same title where such a window exists, otherwise the one window
// of that program and class.
platform::WindowHandle Search(const platform::WindowInfo& wanted, uint32_t* dpi) {
    platform::WindowHandle listed[kMostListed];
    uint32_t count = platform::VisibleWindows(listed, kMostListed);
    if (count > kMostListed)
        count = kMostListed;
    platform::WindowHandle only = nullptr;
    uint32_t onlyDpi = 0;
    uint32_t alike = 0;
    platform::WindowInfo info;
    for (uint32_t i = 0; i < count; i++) {
        if (!platform::DescribeWindow(listed[i], &info) ||
            strcmp(info.program, wanted.program) != 0 ||
            strcmp(info.windowClass, wanted.windowClass) != 0)
            continue;
        if (strcmp(info.title, wanted.title) == 0) {
            *dpi = info.dpi;
            return listed[i];
        }
        if (alike++ == 0) {
            only = listed[i];
            onlyDpi = info.dpi;
        }
    }
    *dpi = onlyDpi;
    return alike == 1 ? only : nullptr;
}

}  // namespace

WindowFollower::WindowFollower()
    : recorded(nullptr),
      places(nullptr),
      placeCount(0),
      live(nullptr),
      count(0),
      buttonsHeld(0),
      shiftX(0),
      shiftY(0) {}

WindowFollower::~WindowFollower() {
    Finish();
}

void WindowFollower::Start(const WindowTable& table, const EventNotes& notes) {
    Finish();
    if (!table.count)
        return;
    live = new (std::nothrow) LiveWindow[table.count]();
    if (!live)
        return;
    recorded = table.entries;
    count = table.count;
    places = notes.notes;
    placeCount = notes.count;
}

uint32_t WindowFollower::WindowOf(uint32_t note) const {
    if (note < 1 || note > placeCount)
        return 0;
    uint32_t window = places[note - 1].window;
    return window <= count ? window : 0;
}

void WindowFollower::Finish() {
    delete[] live;
    live = nullptr;
    recorded = nullptr;
    places = nullptr;
    placeCount = count = 0;
    buttonsHeld = 0;
    shiftX = shiftY = 0;
}

void WindowFollower::NewPass() {
    for (uint32_t i = 0; i < count; i++)
        live[i].givenUp = false;
    buttonsHeld = 0;
    shiftX = shiftY = 0;
}

bool WindowFollower::LiveBounds(uint32_t note, platform::WindowRect* rect) {
    uint32_t window = live ? WindowOf(note) : 0;
    return window && !live[window - 1].givenUp && Find(window, rect);
}

void WindowFollower::Nudge(int32_t dx, int32_t dy) {
    shiftX += dx;
    shiftY += dy;
}

void WindowFollower::GiveUp(uint32_t note) {
    if (uint32_t window = WindowOf(note))
        live[window - 1].givenUp = true;
}

LiveWindow* WindowFollower::Find(uint32_t window, platform::WindowRect* rect) {
    LiveWindow& entry = live[window - 1];
    if (entry.handle && platform::WindowBounds(entry.handle, rect))
        return &entry;
    entry.handle = nullptr;
    // A window that moved or was renamed while recording has an entry for each state: one
    // search serves them all.
    const platform::WindowInfo& wanted = recorded[window - 1];
    for (uint32_t i = 0; i < count; i++) {
        if (live[i].handle && i != window - 1 && SameName(recorded[i], wanted) &&
            platform::WindowBounds(live[i].handle, rect)) {
            entry.handle = live[i].handle;
            entry.dpi = live[i].dpi;
            return &entry;
        }
    }
    entry.handle = Search(wanted, &entry.dpi);
    return entry.handle && platform::WindowBounds(entry.handle, rect) ? &entry : nullptr;
}

bool WindowFollower::HasKeyboard(uint32_t window) {
    platform::WindowHandle foreground = platform::ForegroundWindow();
    if (!foreground)
        return false;
    LiveWindow& entry = live[window - 1];
    if (entry.handle == foreground)
        return true;
    // Of two windows alike in every name, the one that has the keyboard is the one meant.
    platform::WindowInfo info;
    if (platform::DescribeWindow(foreground, &info) && SameName(info, recorded[window - 1])) {
        entry.handle = foreground;
        entry.dpi = info.dpi;
        return true;
    }
    platform::WindowRect rect;
    return Find(window, &rect) && entry.handle == foreground;
}

bool WindowFollower::Follows(const platform::EventRecord& event, uint32_t note) const {
    uint32_t kind = event.message & 0xFFFF;
    uint32_t window = live ? WindowOf(note) : 0;
    if (!window || live[window - 1].givenUp)
        return false;
    return IsKey(kind) || (IsMouse(kind) && !buttonsHeld);
}

bool WindowFollower::Place(const platform::EventRecord& event, uint32_t note,
                           platform::EventRecord* placed) {
    *placed = event;
    // A file's record of message 0 is no wait: it goes out as a message that no input queue
    // carries either, so that it is played as a pause, as it always was.
    if (placed->message == platform::kWaitEvent)
        placed->message = kNotInput;
    uint32_t kind = event.message & 0xFFFF;
    bool follow = Follows(event, note);
    uint32_t window = follow ? WindowOf(note) : 0;
    if (IsKey(kind))
        return !follow || HasKeyboard(window);
    if (!IsMouse(kind))
        return true;
    if (!buttonsHeld) {
        shiftX = shiftY = 0;
        platform::WindowRect now;
        LiveWindow* found = follow ? Find(window, &now) : nullptr;
        if (follow && !found)
            return false;
        if (found) {
            const EventNote& then = places[note - 1];
            int32_t x = static_cast<int32_t>(event.paramL);
            int32_t y = static_cast<int32_t>(event.paramH);
            shiftX = now.left + Rescale(x - then.rect.left, then.dpi, found->dpi) - x;
            shiftY = now.top + Rescale(y - then.rect.top, then.dpi, found->dpi) - y;
        }
    }
    placed->paramL = static_cast<uint32_t>(static_cast<int32_t>(event.paramL) + shiftX);
    placed->paramH = static_cast<uint32_t>(static_cast<int32_t>(event.paramH) + shiftY);
    return true;
}

void WindowFollower::Passed(const platform::EventRecord& event) {
    bool down = false;
    uint32_t button = IsMouse(event.message & 0xFFFF) ? ButtonOf(event.message, &down) : 0;
    buttonsHeld = down ? buttonsHeld | button : buttonsHeld & ~button;
}

}  // namespace journal
