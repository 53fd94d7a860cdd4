// The input layer against the real (Wine) input system: playback into a focused window of this
// process, the playback timeline, removal, and recording of injected input.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/input.h"
#include "platform/win32/input_win32.h"
#include "platform/window.h"
#include "tests/common/sequence.h"

namespace {

using platform::EventRecord;

LONGLONG Ticks() {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

double TicksToMs(LONGLONG ticks) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(ticks) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// WM_CANCELJOURNAL posted to this thread, as the pump found it.
int cancelsPosted;
bool fenceSeen;
// How long a wait may take before the test fails: long, so that a busy machine fails nothing.
const DWORD kWait = 5000;

// Pumps this thread's messages until `done` or the time is up; true when done.
template <typename Done>
bool PumpUntil(DWORD milliseconds, Done done) {
    for (DWORD start = GetTickCount(); !done();
         MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT)) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_CANCELJOURNAL && !msg.hwnd)
                cancelsPosted++;
            if (msg.message >= WM_KEYDOWN && msg.message <= WM_SYSKEYUP && msg.wParam == VK_F24) {
                fenceSeen = msg.message == WM_KEYUP || msg.message == WM_SYSKEYUP;
                continue;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (GetTickCount() - start >= milliseconds)
            return done();
    }
    return true;
}

// ---- the target: a focused window that logs its input messages --------------------------------

struct Delivered {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    POINT screen;  // mouse messages only
    LONGLONG at;
};

std::vector<Delivered> delivered;

LRESULT CALLBACK TargetProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if ((message >= WM_KEYFIRST && message <= WM_KEYLAST) ||
        (message >= WM_MOUSEFIRST && message <= WM_MOUSEHWHEEL) || message == WM_HOTKEY) {
        POINT p = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        if (message != WM_MOUSEWHEEL && message != WM_MOUSEHWHEEL)  // those are in screen ones
            ClientToScreen(window, &p);
        delivered.push_back({message, wParam, lParam, p, Ticks()});
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// The input delivered but the moves, for sequence checks: a key message's virtual key and
// extended bit, a mouse message's high word of wParam and its position.
using Input = std::tuple<UINT, UINT, LONG, LONG>;
const UINT kExtended = 0x100;  // beside a key's number: its extended bit
std::vector<Input> Seen() {
    std::vector<Input> out;
    for (const Delivered& d : delivered)
        if (d.message < WM_MOUSEFIRST || d.message > WM_MOUSEHWHEEL)
            out.push_back({d.message, UINT(d.wParam | (UINT(d.lParam >> 16) & kExtended)), 0, 0});
        else if (d.message != WM_MOUSEMOVE)
            out.push_back({d.message, HIWORD(d.wParam), d.screen.x, d.screen.y});
    return out;
}

testkit::Step<Input> In(UINT message, UINT data, LONG x = 0, LONG y = 0,
                        testkit::StepKind kind = testkit::kOnce) {
    return {{message, data, x, y}, kind};
}

std::vector<Delivered> DeliveredOf(UINT message) {
    std::vector<Delivered> out;
    std::copy_if(delivered.begin(), delivered.end(), std::back_inserter(out),
                 [&](const Delivered& d) { return d.message == message; });
    return out;
}

// Input without our playback's tag (unless given), as a test driver or an on-screen keyboard
// sends it.
void SendKey(WORD vk, WORD scan, bool up, bool extended = false, ULONG_PTR tag = 0) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.wScan = scan;
    input.ki.dwFlags = (up ? KEYEVENTF_KEYUP : 0) | (extended ? KEYEVENTF_EXTENDEDKEY : 0);
    input.ki.dwExtraInfo = tag;
    SendInput(1, &input, sizeof(INPUT));
}

// Pumps until a key of no use comes back, tagged so that neither the hold-back nor the record
// source takes it: input sent and messages posted before it have all been handled then.
void Fence() {
    fenceSeen = false;
    SendKey(VK_F24, 0, false, false, platform::win32::kPlaybackInputTag);
    SendKey(VK_F24, 0, true, false, platform::win32::kPlaybackInputTag);
    ASSERT_TRUE(PumpUntil(kWait, [] { return fenceSeen; })) << "the fence key never came back";
}

void SendMouse(int x, int y, DWORD action, DWORD data = 0) {
    int cx = GetSystemMetrics(SM_CXVIRTUALSCREEN), cy = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dx = ((x - GetSystemMetrics(SM_XVIRTUALSCREEN)) * 65535 + (cx - 1) / 2) / (cx - 1);
    input.mi.dy = ((y - GetSystemMetrics(SM_YVIRTUALSCREEN)) * 65535 + (cy - 1) / 2) / (cy - 1);
    input.mi.mouseData = data;
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_VIRTUALDESK | action;
    SendInput(1, &input, sizeof(INPUT));
}

// When the sink injected each event, and how many it has (read while it plays).
std::vector<LONGLONG> injectedAt;
std::atomic<size_t> injected;

void NoteInjection(LONGLONG, LONGLONG at) {
    injectedAt.push_back(at);
    injected++;
}

platform::HookHandle lastPlayback;
platform::HookHandle lastRecord;

class InputLayer : public ::testing::Test {
  protected:
    void SetUp() override {
        WNDCLASSW c = {};
        c.lpfnWndProc = TargetProc;
        c.hInstance = GetModuleHandleW(nullptr);
        c.lpszClassName = L"input-test-target";
        RegisterClassW(&c);
        target = CreateWindowExW(0, c.lpszClassName, L"input test", WS_POPUP | WS_VISIBLE, 100, 100,
                                 400, 300, nullptr, nullptr, c.hInstance, nullptr);
        ASSERT_NE(target, nullptr);
        SetForegroundWindow(target);
        SetFocus(target);
        Fence();
        delivered.clear();
        injectedAt.clear();
        injected = 0;
        platform::win32::SetInjectionObserver(NoteInjection);
    }
    void TearDown() override {
        // A failed test may leave a hook behind; it must not disturb the next one.
        for (platform::HookHandle hook : {lastPlayback, lastRecord})
            if (platform::win32::IsEmulatedHook(hook))
                platform::RemoveHook(hook);
        DestroyWindow(target);
    }
    HWND target = nullptr;
};

// ---- a playback procedure with the journal recorder's semantics --------------------------------

using Call = std::tuple<int, size_t, intptr_t>;  // code, event, result

// Each event waits for the gap between its time and the previous event's; asked again, it waits
// 0. The last HC_SKIP removes the sink.
struct Script {
    std::vector<EventRecord> events;
    size_t cursor = 0;
    uint32_t previousTime = 0;
    bool finished = false;
    bool removeAtEnd = true;
    platform::HookHandle handle = nullptr;
    std::vector<Call> calls;
    size_t stallAt = static_cast<size_t>(-1);  // this event's HC_SKIP sleeps 30 ms
    int waits = 0;                             // waits of 150 ms handed out before the first event

    void Add(uint32_t message, int32_t paramL, int32_t paramH, uint32_t time) {
        events.push_back(
            {message, static_cast<uint32_t>(paramL), static_cast<uint32_t>(paramH), time, 0});
    }
};

Script* script;

intptr_t ScriptProcedure(int code, uintptr_t, intptr_t lParam) {
    Script& s = *script;
    intptr_t result = 0;
    if (code == HC_GETNEXT && s.waits > 0) {
        s.waits--;
        *reinterpret_cast<EventRecord*>(lParam) = {platform::kWaitEvent, 0, 0, 0, 0};
        s.calls.push_back({code, s.cursor, 150});
        return 150;
    }
    if (code == HC_GETNEXT) {
        const EventRecord& event = s.events[s.cursor];
        result = static_cast<intptr_t>(event.time - s.previousTime);
        s.previousTime = event.time;
        *reinterpret_cast<EventRecord*>(lParam) = event;
    }
    s.calls.push_back({code, s.cursor, result});
    if (code == HC_SKIP) {
        if (s.cursor == s.stallAt)
            Sleep(30);
        if (s.cursor + 1 < s.events.size()) {
            ++s.cursor;
        } else if (!s.finished) {
            s.finished = true;
            if (s.removeAtEnd)
                platform::RemoveHook(s.handle);
        }
    }
    return result;
}

platform::HookHandle Play(Script& s) {
    script = &s;
    s.previousTime = s.events[0].time;
    s.handle = platform::InstallPlaybackHook(GetModuleHandleW(nullptr), ScriptProcedure);
    lastPlayback = s.handle;
    return s.handle;
}

uint32_t Wheel(int16_t delta) {
    return WM_MOUSEWHEEL | static_cast<uint32_t>(static_cast<uint16_t>(delta)) << 16;
}

// ---- playback ----------------------------------------------------------------------------------

TEST_F(InputLayer, PlaybackAsksLikeTheJournalAndInjectsIntoTheFocusedWindow) {
    Script s;
    s.Add(WM_KEYDOWN, 'A' | 0x1E << 8, 1, 1000);
    s.Add(WM_KEYUP, 'A' | 0x1E << 8, 1, 1040);
    s.Add(WM_KEYDOWN, VK_RIGHT | 0x4D << 8, 0x8001, 1040);
    s.Add(WM_KEYUP, VK_RIGHT | 0x4D << 8, 0x8001, 1050);
    s.Add(WM_MOUSEMOVE, 250, 200, 1060);
    s.Add(WM_LBUTTONDOWN, 260, 210, 1080);
    s.Add(WM_LBUTTONUP, 260, 210, 1080);
    s.Add(WM_RBUTTONDOWN, 301, 251, 1100);
    s.Add(WM_RBUTTONUP, 301, 251, 1100);
    s.Add(WM_XBUTTONDOWN | XBUTTON2 << 16, 320, 260, 1110);
    s.Add(WM_XBUTTONUP | XBUTTON2 << 16, 320, 260, 1110);
    s.Add(Wheel(-120), 330, 270, 1120);
    ASSERT_NE(Play(s), nullptr);
    EXPECT_TRUE(s.calls.empty()) << "the procedure is only asked from the message loop";
    ASSERT_TRUE(PumpUntil(kWait, [&] { return s.finished; }));
    Fence();

    // Each event is asked for once, ahead of its time, and skipped once it is queued for its
    // injection; once finished, nothing more is asked.
    std::vector<testkit::Step<Call>> expected;
    for (size_t i = 0; i < s.events.size(); ++i) {
        uint32_t gap = i ? s.events[i].time - s.events[i - 1].time : 0;
        expected.push_back({{HC_GETNEXT, i, static_cast<intptr_t>(gap)}});
        expected.push_back({{HC_SKIP, i, 0}});
    }
    EXPECT_SEQUENCE(s.calls, expected);
    EXPECT_FALSE(platform::win32::IsEmulatedHook(s.handle)) << "removed from inside HC_SKIP";
    EXPECT_SEQUENCE(Seen(),
                    {In(WM_KEYDOWN, 'A'), In(WM_CHAR, 'a'), In(WM_KEYUP, 'A'),
                     In(WM_KEYDOWN, VK_RIGHT | kExtended), In(WM_KEYUP, VK_RIGHT | kExtended),
                     In(WM_LBUTTONDOWN, 0, 260, 210), In(WM_LBUTTONUP, 0, 260, 210),
                     In(WM_RBUTTONDOWN, 0, 301, 251), In(WM_RBUTTONUP, 0, 301, 251),
                     In(WM_XBUTTONDOWN, XBUTTON2, 320, 260), In(WM_XBUTTONUP, XBUTTON2, 320, 260),
                     In(WM_MOUSEWHEEL, 0xFF88, 330, 270)});

    // A new sink can be installed.
    Script again;
    again.Add(WM_MOUSEMOVE, 200, 200, 5);
    ASSERT_NE(Play(again), nullptr);
    EXPECT_TRUE(PumpUntil(kWait, [&] { return again.finished; }));
}

TEST_F(InputLayer, PlaybackHoldsAnAbsoluteTimelineThatAStalledLoopCannotDelay) {
    // Moves with uneven gaps; one HC_SKIP stalls the message loop for 30 ms, as a busy main
    // thread does. The injections keep to the timeline all the same: they are timed on the
    // sink's own thread, from events asked for ahead of their time. (How close they keep to it
    // is a figure of the benchmark: tools/bench, the sink lines.)
    static const uint32_t kGaps[] = {1, 3, 7, 12, 16, 25, 2, 9, 0, 5};
    const size_t count = 60;
    Script s;
    s.stallAt = 20;
    for (size_t i = 0, time = 5000; i < count; time += kGaps[++i % 10])
        s.Add(WM_MOUSEMOVE, static_cast<int32_t>(120 + i % 300), static_cast<int32_t>(150 + i % 7),
              static_cast<uint32_t>(time));
    ASSERT_NE(Play(s), nullptr);
    ASSERT_TRUE(PumpUntil(kWait, [&] { return s.finished; }));
    ASSERT_EQ(injectedAt.size(), count) << "the playback's end waits for the events reported";

    // The queue merges moves it has not handed out yet, but the last one always arrives. Under
    // load Wine's virtual desktop echoes a warped X pointer back late, so an older position may
    // follow it: the test asks for arrival, not for being last.
    const EventRecord& last = s.events.back();
    EXPECT_TRUE(PumpUntil(kWait, [&] {
        auto moves = DeliveredOf(WM_MOUSEMOVE);
        return std::any_of(moves.begin(), moves.end(), [&](const Delivered& d) {
            return d.screen.x == LONG(last.paramL) && d.screen.y == LONG(last.paramH);
        });
    }));

    // Had the stall shifted the timeline, most of the ten events after it would be its 30 ms
    // late; a busy machine delays single events by many milliseconds, so the median decides.
    std::vector<double> afterStall;
    for (size_t i = s.stallAt + 1; i <= s.stallAt + 10; ++i)
        afterStall.push_back(TicksToMs(injectedAt[i] - injectedAt[0]) -
                             (s.events[i].time - s.events[0].time));
    std::sort(afterStall.begin(), afterStall.end());
    EXPECT_LT(afterStall[5], 15.0) << "the stalled loop delayed the events";
}

// A procedure waiting for a window: nothing is injected for a wait, no HC_SKIP follows it, and
// the events after it keep their gaps.
TEST_F(InputLayer, AWaitInjectsNothingAndHoldsTheNextQuestionBack) {
    Script s;
    s.waits = 2;
    s.Add(WM_KEYDOWN, 'A' | 0x1E << 8, 1, 1000);
    s.Add(WM_KEYUP, 'A' | 0x1E << 8, 1, 1040);
    LONGLONG started = Ticks();
    ASSERT_NE(Play(s), nullptr);
    ASSERT_TRUE(PumpUntil(kWait, [&] { return s.finished; }));
    Fence();
    EXPECT_SEQUENCE(s.calls, {{{HC_GETNEXT, 0, 150}},
                              {{HC_GETNEXT, 0, 150}},
                              {{HC_GETNEXT, 0, 0}},
                              {{HC_SKIP, 0, 0}},
                              {{HC_GETNEXT, 1, 40}},
                              {{HC_SKIP, 1, 0}}});
    EXPECT_SEQUENCE(Seen(), {In(WM_KEYDOWN, 'A'), In(WM_CHAR, 'a'), In(WM_KEYUP, 'A')});
    auto downs = DeliveredOf(WM_KEYDOWN);
    ASSERT_EQ(downs.size(), 1u);
    EXPECT_GE(TicksToMs(downs[0].at - started), 290.0) << "the two waits came first";
}

TEST_F(InputLayer, RemovalFromOutsideReleasesWhatPlaybackHolds) {
    Script s;
    s.removeAtEnd = false;
    s.Add(WM_KEYDOWN, VK_SHIFT | 0x2A << 8, 1, 0);
    s.Add(WM_KEYDOWN, 'Q' | 0x10 << 8, 1, 0);
    s.Add(WM_LBUTTONDOWN, 200, 180, 0);
    s.Add(WM_KEYUP, 'Q' | 0x10 << 8, 1, 400);  // never reached
    ASSERT_NE(Play(s), nullptr);
    EXPECT_EQ(platform::InstallPlaybackHook(nullptr, ScriptProcedure), nullptr)
        << "one sink at a time";
    ASSERT_TRUE(PumpUntil(kWait, [&] { return injected == 3; }));
    Fence();
    platform::RemoveHook(s.handle);
    size_t callsAtRemoval = s.calls.size();
    Fence();

    EXPECT_EQ(s.calls.size(), callsAtRemoval) << "nothing is asked after removal";
    // Shift was down for Q (its character is a capital); the keys go up first, then the button.
    EXPECT_SEQUENCE(Seen(), {In(WM_KEYDOWN, VK_SHIFT), In(WM_KEYDOWN, 'Q'), In(WM_CHAR, 'Q'),
                             In(WM_LBUTTONDOWN, 0, 200, 180), In(WM_KEYUP, 'Q'),
                             In(WM_KEYUP, VK_SHIFT), In(WM_LBUTTONUP, 0, 200, 180)});
}

TEST_F(InputLayer, RemovalReleasesEachSideOfAModifierThatIsStillDown) {
    const struct {
        const char* name;
        std::vector<EventRecord> presses;  // paramL: generic key | scan << 8
        std::vector<uint32_t> released;
    } kCases[] = {
        {"right Shift after left",
         {{WM_KEYDOWN, VK_SHIFT | 0x2A << 8, 1, 0, 0},
          {WM_KEYDOWN, VK_SHIFT | 0x36 << 8, 1, 0, 0},
          {WM_KEYUP, VK_SHIFT | 0x2A << 8, 1, 0, 0}},
         {0x36}},
        {"right Ctrl after left",
         {{WM_KEYDOWN, VK_CONTROL | 0x1D << 8, 1, 0, 0},
          {WM_KEYDOWN, VK_CONTROL | 0x1D << 8, 0x8001, 0, 0},
          {WM_KEYUP, VK_CONTROL | 0x1D << 8, 1, 0, 0}},
         {0x1D | kExtended}},
        {"AltGr and its Ctrl",
         {{WM_KEYDOWN, VK_MENU | 0x38 << 8, 0x8001, 0, 0}},
         {0x1D, 0x38 | kExtended}},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        Script s;
        s.removeAtEnd = false;
        s.events = c.presses;
        s.Add(WM_KEYDOWN, 'B' | 0x30 << 8, 1, 60000);  // never reached
        ASSERT_NE(Play(s), nullptr);
        injected = 0;
        ASSERT_TRUE(PumpUntil(kWait, [&] { return injected == c.presses.size(); }));
        Fence();
        delivered.clear();
        platform::RemoveHook(s.handle);
        Fence();
        std::vector<uint32_t> released;
        for (const Delivered& d : delivered)
            if (d.message == WM_KEYUP || d.message == WM_SYSKEYUP)
                released.push_back(UINT(d.lParam >> 16) & (0xFF | kExtended));  // scan code and bit
        std::sort(released.begin(), released.end());
        EXPECT_EQ(c.released, released);
    }
}

TEST_F(InputLayer, PlaybackHoldsBackTheUsersInputButForTheProgramsHotkeys) {
    const int kStopHotkey = 0x402;
    ASSERT_TRUE(platform::RegisterGlobalHotkey(target, kStopHotkey,
                                               MOD_ALT | MOD_CONTROL | MOD_SHIFT, 'S'));
    Script s;
    s.removeAtEnd = false;
    s.Add(WM_KEYDOWN, 'A' | 0x1E << 8, 1, 0);
    s.Add(WM_KEYUP, 'A' | 0x1E << 8, 1, 10);
    s.Add(WM_KEYDOWN, 'B' | 0x30 << 8, 1, 60000);  // never reached
    ASSERT_NE(Play(s), nullptr);
    ASSERT_TRUE(PumpUntil(kWait, [&] { return injected == 2; }));
    Fence();

    // The user types, clicks and presses the stop hotkey while the playback waits. W went down
    // before the hold-back could see it: its release goes through.
    SendKey('W', 0x11, true);
    SendKey('Q', 0x10, false);
    SendKey('Q', 0x10, true);
    SendMouse(150, 160, MOUSEEVENTF_LEFTDOWN);
    SendMouse(150, 160, MOUSEEVENTF_LEFTUP);
    const WORD chord[][2] = {{VK_LCONTROL, 0x1D}, {VK_LMENU, 0x38}, {VK_LSHIFT, 0x2A}, {'S', 0x1F}};
    for (const auto& key : chord)
        SendKey(key[0], key[1], false);
    for (const auto& key : chord)
        SendKey(key[0], key[1], true);
    ASSERT_TRUE(PumpUntil(kWait, [] { return !DeliveredOf(WM_HOTKEY).empty(); }));
    Fence();
    // Only the playback's own key went down; the hotkey, a posted message, may overtake W.
    EXPECT_SEQUENCE(Seen(),
                    {In(WM_KEYDOWN, 'A'), In(WM_CHAR, 'a'), In(WM_KEYUP, 'A'),
                     In(WM_HOTKEY, kStopHotkey, 0, 0, testkit::kOptional), In(WM_KEYUP, 'W'),
                     In(WM_HOTKEY, kStopHotkey, 0, 0, testkit::kOptional)});
    EXPECT_EQ(DeliveredOf(WM_HOTKEY).size(), 1u);

    // Once the playback is over, the user's input is theirs again at once.
    platform::RemoveHook(s.handle);
    SendKey('R', 0x13, false);
    SendKey('R', 0x13, true);
    ASSERT_TRUE(PumpUntil(kWait, [] { return DeliveredOf(WM_KEYDOWN).size() == 2; }));
    EXPECT_EQ(DeliveredOf(WM_KEYDOWN)[1].wParam, static_cast<WPARAM>('R'));
}

TEST_F(InputLayer, APausedPlaybackWaitsAndGoesOnLaterByThePauseIntoItsWindow) {
    Script s;
    s.Add(WM_KEYDOWN, VK_SHIFT | 0x2A << 8, 1, 0);
    s.Add(WM_KEYDOWN, 'A' | 0x1E << 8, 1, 50);
    s.Add(WM_KEYUP, 'A' | 0x1E << 8, 1, 150);
    s.Add(WM_KEYUP, VK_SHIFT | 0x2A << 8, 1, 300);
    ASSERT_NE(Play(s), nullptr);
    ASSERT_TRUE(PumpUntil(kWait, [] { return DeliveredOf(WM_KEYDOWN).size() == 2; }));
    LONGLONG pausedAt = Ticks();
    platform::PausePlayback(s.handle, true);
    Fence();
    // The menu takes the foreground meanwhile, past the moment A's release was due.
    HWND menuOwner = CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 10, 10,
                                     nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    SetForegroundWindow(menuOwner);
    PumpUntil(kWait, [&] { return TicksToMs(Ticks() - pausedAt) > 400; });
    Fence();
    // Nothing is injected while paused; the keys the playback holds are let go of.
    EXPECT_SEQUENCE(Seen(), {In(WM_KEYDOWN, VK_SHIFT), In(WM_KEYDOWN, 'A'), In(WM_CHAR, 'A'),
                             In(WM_KEYUP, 'A'), In(WM_KEYUP, VK_SHIFT)});
    LONGLONG resumedAt = Ticks();
    platform::PausePlayback(s.handle, false);
    ASSERT_TRUE(PumpUntil(kWait, [&] { return s.finished && DeliveredOf(WM_KEYUP).size() == 3; }));
    EXPECT_EQ(GetForegroundWindow(), target);
    DestroyWindow(menuOwner);
    // Shift is pressed again after the pause, A is not: it would be typed twice, and its recorded
    // release goes unsent. (Not the key state: under Wine a change of the foreground takes the
    // modifiers from the X server, which never had Shift down.)
    auto downs = DeliveredOf(WM_KEYDOWN);
    ASSERT_EQ(downs.size(), 3u);
    EXPECT_EQ(downs[2].wParam, static_cast<WPARAM>(VK_SHIFT));
    auto ups = DeliveredOf(WM_KEYUP);
    EXPECT_EQ(ups[2].wParam, static_cast<WPARAM>(VK_SHIFT));
    double late = TicksToMs(ups[2].at - downs[1].at) - TicksToMs(resumedAt - pausedAt);
    EXPECT_NEAR(late, 250, 50) << "Shift went up its recorded gap after A, not counting the pause";
}

bool DesktopLocked() {
    return false;
}

TEST_F(InputLayer, CtrlEscOrALockedDesktopCancelsThePlaybackAsTheSystemDoes) {
    const struct {
        const char* name;
        std::vector<std::vector<WORD>> keys;  // virtual key and scan code, pressed in order
        bool locked;
        bool cancels;
    } kCases[] = {
        {"Ctrl+Esc", {{VK_LCONTROL, 0x1D}, {VK_ESCAPE, 0x01}}, false, true},
        {"Esc alone", {{VK_ESCAPE, 0x01}}, false, false},
        {"Ctrl+Shift+Esc",
         {{VK_LCONTROL, 0x1D}, {VK_LSHIFT, 0x2A}, {VK_ESCAPE, 0x01}},
         false,
         false},
        {"locked screen", {}, true, true},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        delivered.clear();
        cancelsPosted = 0;
        platform::win32::SetInputDesktopCheck(c.locked ? DesktopLocked : nullptr);
        Script s;
        s.removeAtEnd = false;
        s.Add(WM_KEYDOWN, 'A' | 0x1E << 8, 1, 0);
        s.Add(WM_KEYUP, 'A' | 0x1E << 8, 1, 300);
        s.Add(WM_KEYDOWN, 'B' | 0x30 << 8, 1, 60000);  // never reached
        ASSERT_NE(Play(s), nullptr);
        LONGLONG started = Ticks();
        PumpUntil(kWait, [] { return !DeliveredOf(WM_KEYDOWN).empty() || cancelsPosted; });
        EXPECT_EQ(DeliveredOf(WM_KEYDOWN).size(), c.locked ? 0u : 1u);
        for (const auto& key : c.keys)
            SendKey(key[0], key[1], false);
        for (const auto& key : c.keys)
            SendKey(key[0], key[1], true);
        PumpUntil(kWait, [&] { return TicksToMs(Ticks() - started) > 400; });  // A's release due
        Fence();
        EXPECT_EQ(cancelsPosted, c.cancels ? 1 : 0);
        EXPECT_EQ(DeliveredOf(WM_KEYUP).size(), c.cancels ? 0u : 1u) << "the playback went on";
        platform::RemoveHook(s.handle);
        platform::win32::SetInputDesktopCheck(nullptr);
        Fence();  // the release of A, when the playback was cancelled
    }
}

TEST(InputTimeline, AWaitWithoutATimerKeepsItsDeadlineAndEndsAtARemoval) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    LONGLONG f = frequency.QuadPart;
    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> stopping(false);
    // No timer to be had, as when SetWaitableTimer fails: the deadline still holds...
    LONGLONG start = Ticks();
    EXPECT_TRUE(
        platform::win32::WaitForDeadline(start + f / 20, nullptr, stop, stopping, f, f / 1000));
    EXPECT_GE(TicksToMs(Ticks() - start), 50.0);
    // ... and a removal ends a wait for a deadline a minute away at once.
    std::thread remover([&] {
        Sleep(50);
        stopping.store(true);
        SetEvent(stop);
    });
    start = Ticks();
    EXPECT_FALSE(
        platform::win32::WaitForDeadline(start + 60 * f, nullptr, stop, stopping, f, f / 1000));
    EXPECT_LT(TicksToMs(Ticks() - start), 2000.0);
    remover.join();
    CloseHandle(stop);
}

TEST(InputTimeline, TicksOfTheLongestDelaysAtAnyCounterFrequency) {
    const struct {
        uint64_t ms;
        LONGLONG frequency;
        LONGLONG ticks;
    } kCases[] = {
        {1500, 10000000, 15000000},
        // The most a timeline adds up to before it is rebased, at a counter of 6 GHz: the
        // product alone would pass 2^64.
        {(1ull << 30) + 0x7FFFFFFF, 6000000000, 19327352826000000},
        {999, 3, 2},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(c.ticks, platform::win32::TicksIn(c.ms, c.frequency)) << c.ms;
}

TEST_F(InputLayer, ACancelPostedAsAPlaybackEndsStopsNothingAfterIt) {
    Script s;
    s.removeAtEnd = false;
    s.Add(WM_KEYDOWN, 'A' | 0x1E << 8, 1, 0);
    s.Add(WM_KEYUP, 'A' | 0x1E << 8, 1, 60000);
    ASSERT_NE(Play(s), nullptr);
    ASSERT_TRUE(PumpUntil(kWait, [] { return DeliveredOf(WM_KEYDOWN).size() == 1; }));
    cancelsPosted = 0;
    platform::win32::CancelPlayback();  // as Ctrl+Esc does, just before the playback is removed
    platform::RemoveHook(s.handle);
    Fence();
    EXPECT_EQ(0, cancelsPosted);
}

TEST(NativeJournal, RecordsReachTheSystemWithoutTheWheelAndButtonBits) {
    const struct {
        uint32_t recorded, played;
    } cases[] = {
        {Wheel(-120), WM_MOUSEWHEEL},
        {WM_MOUSEHWHEEL | 120u << 16, WM_MOUSEHWHEEL},
        {WM_XBUTTONDOWN | XBUTTON2 << 16, WM_XBUTTONDOWN},
        {WM_KEYDOWN, WM_KEYDOWN},
    };
    for (const auto& c : cases) {
        EVENTMSG message;
        platform::win32::ToEventMsg({c.recorded, 10, 20, 30, 0x1234}, &message);
        EXPECT_EQ(message.message, c.played) << std::hex << c.recorded;
        EXPECT_EQ(message.paramL, 10u);
        EXPECT_EQ(message.paramH, 20u);
        EXPECT_EQ(message.time, 30u);
        EXPECT_EQ(message.hwnd, reinterpret_cast<HWND>(0x1234));
    }
}

// ---- recording ---------------------------------------------------------------------------------

std::vector<EventRecord> records;

intptr_t RecordProcedure(int code, uintptr_t, intptr_t lParam) {
    if (code == HC_ACTION)
        records.push_back(*reinterpret_cast<const EventRecord*>(lParam));
    return 0;
}

TEST_F(InputLayer, RecordsForeignInputAsJournalRecordsButNotOurPlayback) {
    records.clear();
    platform::HookHandle hook = lastRecord =
        platform::InstallRecordHook(GetModuleHandleW(nullptr), RecordProcedure);
    ASSERT_NE(hook, nullptr);
    EXPECT_EQ(platform::CallNextHook(hook, -1, 0, 0), 0);

    DWORD before = GetTickCount();
    SendKey('B', 0x30, false);
    SendKey('B', 0x30, true);
    SendKey(VK_RIGHT, 0x4D, false, true);
    SendKey(VK_LSHIFT, 0x2A, false);
    SendKey(VK_RCONTROL, 0x1D, true, true);
    SendMouse(150, 160, 0);
    SendMouse(150, 160, MOUSEEVENTF_LEFTDOWN);
    SendMouse(170, 180, MOUSEEVENTF_WHEEL, static_cast<DWORD>(-240));
    SendMouse(170, 180, MOUSEEVENTF_XUP, XBUTTON2);
    const uint32_t last = WM_XBUTTONUP | XBUTTON2 << 16;
    ASSERT_TRUE(
        PumpUntil(kWait, [&] { return !records.empty() && records.back().message == last; }));
    DWORD after = GetTickCount();

    const LONG w = LONG(reinterpret_cast<uintptr_t>(target));  // the window of every record
    std::vector<Input> seen;
    for (const EventRecord& r : records) {
        seen.push_back({r.message, r.paramL, LONG(r.paramH), LONG(r.hwnd)});
        EXPECT_LE(r.time - before, after - before);
    }
    // Moves come along with every mouse input; everything else arrives once, in order, the
    // modifiers as the messages name them.
    const testkit::StepKind kMoves = testkit::kAnyNumber;
    EXPECT_SEQUENCE(
        seen,
        {In(WM_KEYDOWN, 'B' | 0x30 << 8, 1, w), In(WM_KEYUP, 'B' | 0x30 << 8, 1, w),
         In(WM_KEYDOWN, VK_RIGHT | 0x4D << 8, 0x8001, w),
         In(WM_KEYDOWN, VK_SHIFT | 0x2A << 8, 1, w),
         In(WM_KEYUP, VK_CONTROL | 0x1D << 8, 0x8001, w), In(WM_MOUSEMOVE, 150, 160, w, kMoves),
         In(WM_LBUTTONDOWN, 150, 160, w), In(WM_MOUSEMOVE, 150, 160, w, kMoves),
         In(WM_MOUSEMOVE, 170, 180, w, kMoves), In(Wheel(-240), 170, 180, w),
         In(WM_MOUSEMOVE, 170, 180, w, kMoves), In(last, 170, 180, w)});
    SendMouse(150, 160, MOUSEEVENTF_LEFTUP);
    SendKey(VK_RIGHT, 0x4D, true, true);
    SendKey(VK_LSHIFT, 0x2A, true);
    Fence();

    // Our own playback is not recorded, and the source goes on recording after it.
    records.clear();
    delivered.clear();
    Script s;
    s.Add(WM_KEYDOWN, 'C' | 0x2E << 8, 1, 0);
    s.Add(WM_KEYUP, 'C' | 0x2E << 8, 1, 10);
    s.Add(WM_LBUTTONDOWN, 210, 220, 20);
    s.Add(WM_LBUTTONUP, 210, 220, 30);
    ASSERT_NE(Play(s), nullptr);
    ASSERT_TRUE(PumpUntil(kWait, [&] { return s.finished; }));
    Fence();
    EXPECT_EQ(DeliveredOf(WM_KEYDOWN).size(), 1u) << "the playback did reach the window";
    SendKey('D', 0x20, false);
    ASSERT_TRUE(PumpUntil(kWait, [&] { return !records.empty(); }));
    Fence();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].paramL, 'D' | 0x20u << 8);

    platform::RemoveHook(hook);
    EXPECT_FALSE(platform::win32::IsEmulatedHook(hook));
    SendKey('D', 0x20, true);
    Fence();
    EXPECT_EQ(records.size(), 1u) << "nothing is recorded after removal";
}

// Moves and the raw counts after each, as the procedure was handed them.
using Handed = std::tuple<int, int32_t, int32_t, uint32_t>;  // code, dx, dy, flags
std::vector<Handed> handed;

intptr_t MotionProcedure(int code, uintptr_t, intptr_t lParam) {
    if (code == HC_ACTION && reinterpret_cast<const EventRecord*>(lParam)->message == WM_MOUSEMOVE)
        handed.push_back({code, 0, 0, 0});
    if (code == platform::kMotionCode) {
        const auto* motion = reinterpret_cast<const platform::MotionRecord*>(lParam);
        handed.push_back({code, motion->dx, motion->dy, motion->flags});
    }
    return 0;
}

// Wine drops a new window's confinement once as it comes to the front, some time after; without
// XInput2 it keeps none. False when it did not hold.
bool Confine(RECT rect) {
    RECT now;
    for (int tries = 0; tries < 5; ++tries) {
        ClipCursor(&rect);
        DWORD start = GetTickCount();
        PumpUntil(kWait, [&] { return GetTickCount() - start >= 100; });
        if (GetClipCursor(&now) && EqualRect(&now, &rect))
            return true;
    }
    return false;
}

TEST_F(InputLayer, RecordsTheRawCountsOfEachMotionRightAfterItsMove) {
    platform::HookHandle hook = lastRecord =
        platform::InstallRecordHook(GetModuleHandleW(nullptr), MotionProcedure);
    ASSERT_NE(hook, nullptr);
    INPUT moves[5] = {};
    const LONG kCounts[5][2] = {{5, -3}, {-4, 6}, {3, 3}, {2, 0}, {-1, -1}};
    for (int i = 0; i < 5; ++i) {
        moves[i].type = INPUT_MOUSE;
        moves[i].mi = {kCounts[i][0], kCounts[i][1], 0, MOUSEEVENTF_MOVE, 0, 0};
    }
    moves[2].mi.dwExtraInfo = platform::win32::kPlaybackInputTag;  // our own: not recorded
    const Handed kMove = {HC_ACTION, 0, 0, 0};
    // Confined (an unconfined pointer under Wine may echo a move back as motion of its own),
    // then hidden too, as a game has it. Sent in one call, the hook hears of all the moves before
    // the first raw input is dispatched.
    if (!Confine({150, 150, 450, 350}))
        GTEST_SKIP() << "the cursor cannot be confined here";
    const uint32_t kConfined = platform::kMotionCursorConfined;
    for (uint32_t flags : {kConfined, kConfined | platform::kMotionCursorHidden}) {
        SCOPED_TRACE(flags);
        SetCursorPos(300, 250);
        SetCursor(LoadCursor(nullptr, IDC_ARROW));
        if (flags != kConfined)
            ShowCursor(FALSE);
        Fence();
        handed.clear();
        ASSERT_EQ(SendInput(5, moves, sizeof(INPUT)), 5u);
        Fence();
        EXPECT_SEQUENCE(handed, {{kMove},
                                 {{platform::kMotionCode, 5, -3, flags}},
                                 {kMove},
                                 {{platform::kMotionCode, -4, 6, flags}},
                                 {kMove},
                                 {{platform::kMotionCode, 2, 0, flags}},
                                 {kMove},
                                 {{platform::kMotionCode, -1, -1, flags}}});
    }
    ShowCursor(TRUE);
    ClipCursor(nullptr);
    platform::RemoveHook(hook);
    handed.clear();
    SendInput(1, moves, sizeof(INPUT));
    Fence();
    EXPECT_TRUE(handed.empty()) << "nothing is handed over after removal";
}

// ---- input as the devices send it --------------------------------------------------------------

// What raw input reports to a window of this process that takes it whatever has the foreground.
struct RawSeen {
    long x = 0, y = 0;
    std::vector<std::tuple<USHORT, USHORT>> keys;  // scan code, RI_KEY_* flags
};
RawSeen rawSeen;

LRESULT CALLBACK RawSinkProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    RAWINPUT input;
    UINT size = sizeof(input);
    if (message == WM_INPUT && GetRawInputData(reinterpret_cast<HRAWINPUT>(lParam), RID_INPUT,
                                               &input, &size, sizeof(RAWINPUTHEADER)) != UINT(-1)) {
        // Wine adds motion of its own (an echo of the pointer's warps): only ours counts.
        if (input.header.dwType == RIM_TYPEMOUSE &&
            input.data.mouse.ulExtraInformation == platform::win32::kPlaybackInputTag) {
            rawSeen.x += input.data.mouse.lLastX;
            rawSeen.y += input.data.mouse.lLastY;
        } else if (input.header.dwType == RIM_TYPEKEYBOARD && input.data.keyboard.VKey != VK_F24) {
            rawSeen.keys.push_back({input.data.keyboard.MakeCode, input.data.keyboard.Flags});
        }
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

TEST_F(InputLayer, RelativeMovesAndScanCodesReachRawInputAsRecorded) {
    WNDCLASSW c = {};
    c.lpfnWndProc = RawSinkProc;
    c.hInstance = GetModuleHandleW(nullptr);
    c.lpszClassName = L"input-test-raw";
    RegisterClassW(&c);
    HWND sink = CreateWindowExW(0, c.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                c.hInstance, nullptr);
    RAWINPUTDEVICE devices[2] = {{1, 2, RIDEV_INPUTSINK, sink}, {1, 6, RIDEV_INPUTSINK, sink}};
    ASSERT_TRUE(RegisterRawInputDevices(devices, 2, sizeof(devices[0])));
    int saved[3];
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETMOUSE, 0, saved, 0));

    // Thresholds and acceleration: the system's defaults, none, doubled twice, low thresholds.
    const int kMice[][3] = {{6, 10, 1}, {6, 10, 0}, {6, 10, 2}, {2, 4, 1}};
    for (const auto& mouse : kMice) {
        SCOPED_TRACE(::testing::Message() << mouse[0] << " " << mouse[1] << " " << mouse[2]);
        SystemParametersInfoW(SPI_SETMOUSE, 0, const_cast<int*>(mouse), 0);
        rawSeen = RawSeen();
        EXPECT_TRUE(platform::win32::InjectMotion(190, 70));
        EXPECT_TRUE(platform::win32::InjectMotion(-37, 12));
        PumpUntil(kWait, [] { return rawSeen.x == 153 && rawSeen.y == 82; });
        Fence();
        EXPECT_EQ(rawSeen.x, 153);
        EXPECT_EQ(rawSeen.y, 82);
    }
    SystemParametersInfoW(SPI_SETMOUSE, 0, saved, 0);

    rawSeen = RawSeen();
    platform::win32::HeldInput held = {};
    const EventRecord kKeys[] = {{WM_KEYDOWN, 'W' | 0x11 << 8, 1, 0, 0},
                                 {WM_KEYDOWN, VK_RIGHT | 0x4D << 8, 0x8001, 0, 0},
                                 {WM_KEYUP, 'W' | 0x11 << 8, 1, 0, 0}};
    for (const EventRecord& key : kKeys)
        EXPECT_TRUE(platform::win32::InjectScanKey(held, key));
    EXPECT_TRUE(held.keyHeld[VK_RIGHT] && held.keyExtended[VK_RIGHT] && !held.keyHeld['W']);
    platform::win32::ReleaseHeld(held);
    Fence();
    using Raw = std::tuple<USHORT, USHORT>;
    EXPECT_EQ(rawSeen.keys, (std::vector<Raw>{{0x11, RI_KEY_MAKE},
                                              {0x4D, RI_KEY_E0},
                                              {0x11, RI_KEY_BREAK},
                                              {0x4D, RI_KEY_E0 | RI_KEY_BREAK}}));
    EXPECT_SEQUENCE(Seen(),
                    {In(WM_KEYDOWN, 'W'), In(WM_CHAR, 'w'), In(WM_KEYDOWN, VK_RIGHT | kExtended),
                     In(WM_KEYUP, 'W'), In(WM_KEYUP, VK_RIGHT | kExtended)});

    devices[0].dwFlags = devices[1].dwFlags = RIDEV_REMOVE;
    devices[0].hwndTarget = devices[1].hwndTarget = nullptr;
    RegisterRawInputDevices(devices, 2, sizeof(devices[0]));
    DestroyWindow(sink);
}

TEST(MotionSteps, StayWithinTheFirstThresholdWhereItAcceleratesAndAddUpToTheMove) {
    const struct {
        int32_t dx, dy;
        int mouse[3];
        uint32_t steps;
    } kCases[] = {
        {190, 70, {6, 10, 1}, 32}, {-190, -70, {6, 10, 2}, 32}, {6, -6, {6, 10, 1}, 1},
        {7, 0, {6, 10, 1}, 2},     {2, -13, {6, 10, 1}, 3},     {190, 70, {6, 10, 0}, 1},
        {190, 70, {0, 0, 1}, 1},   {0, 0, {6, 10, 1}, 1},       {INT32_MIN, 0, {6, 10, 1}, 1024},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(::testing::Message() << c.dx << "," << c.dy << " " << c.mouse[2]);
        uint32_t steps = platform::win32::MotionSteps(c.dx, c.dy, c.mouse);
        EXPECT_EQ(steps, c.steps);
        int64_t x = 0, y = 0;
        for (uint32_t i = 0; i < steps; ++i) {
            int32_t sx = platform::win32::MotionStepShare(c.dx, steps, i);
            int32_t sy = platform::win32::MotionStepShare(c.dy, steps, i);
            if (c.mouse[2] && steps > 1 && steps < 1024) {
                // Within the first threshold: no step is accelerated.
                EXPECT_TRUE(std::abs(sx) <= c.mouse[0] && std::abs(sy) <= c.mouse[0]) << i;
            }
            x += sx;
            y += sy;
        }
        EXPECT_EQ(x, c.dx);
        EXPECT_EQ(y, c.dy);
    }
}

}  // namespace
