// Fake window, process and input services for host tests.
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "platform/fake/fake_window.h"
#include "platform/fake/fake_window_lookup.h"
#include "platform/input.h"
#include "platform/window.h"

namespace {

struct Posted {
    platform::WindowHandle window;
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
};

struct State {
    std::vector<fake::Call> log;
    std::map<std::string, platform::WindowProcedure> classes;
    std::map<platform::WindowHandle, platform::WindowProcedure> windows;
    uintptr_t nextHandle = 0x1000;
    platform::WindowHandle lastWindow = nullptr;
    std::deque<Posted> queue;
    int quitPosted = 0;
    int quitCode = 0;
    std::vector<fake::Timer> timers;
    std::vector<fake::Hotkey> hotkeys;
    std::map<uint32_t, int> checked;
    std::map<uint32_t, int> enabled;
    int popupShown = 0;
    void (*whileMenuOpen)() = nullptr;
    uint32_t menuChoice = 0;
    bool keysDown[256] = {};
    uint32_t clock = 0;
    std::function<bool(platform::PlaySettings*)> dialogAnswer;
    bool playbackPaused = false;
    uint32_t launchResult = 33;
    std::vector<std::string> launched;
    uint32_t mutexError = 0;
    int windowCreationFails = 0;
    int hookInstallFails = 0;
    void (*loopIdle)() = nullptr;
    platform::HookProcedure recordProc = nullptr;
    platform::HookProcedure playbackProc = nullptr;
    platform::HookHandle hook = nullptr;
    intptr_t nextHookResult = 0;
    std::function<void()> whileRemoving;
};

State& S() {
    static State state;
    return state;
}

void Log(const char* name, std::vector<int64_t> args = {}, std::string text = "") {
    S().log.push_back({name, std::move(args), std::move(text)});
}

void RemoveTimer(platform::WindowHandle window, uintptr_t id) {
    std::vector<fake::Timer>& timers = S().timers;
    for (size_t i = 0; i < timers.size(); i++) {
        if (timers[i].window == window && timers[i].id == id) {
            timers.erase(timers.begin() + static_cast<long>(i));
            return;
        }
    }
}

platform::WindowHandle NewHandle() {
    return reinterpret_cast<platform::WindowHandle>(S().nextHandle++);
}

}  // namespace

namespace fake {

void ResetWindows() {
    S() = State();
    ResetTopWindows();
}
std::vector<Call>& CallLog() {
    return S().log;
}
void ClearCallLog() {
    S().log.clear();
}

std::vector<Call> CallsOf(const std::string& name) {
    std::vector<Call> found;
    for (const Call& call : S().log)
        if (call.name == name)
            found.push_back(call);
    return found;
}

void PrintTo(const Call& call, std::ostream* out) {
    *out << call.name;
    for (int64_t arg : call.args)
        *out << ' ' << arg;
    if (!call.text.empty())
        *out << " \"" << call.text << '"';
}

void PostToLoop(platform::WindowHandle window, uint32_t message, uintptr_t wParam,
                intptr_t lParam) {
    S().queue.push_back({window, message, wParam, lParam});
}

void SetLoopIdle(void (*idle)()) {
    S().loopIdle = idle;
}

intptr_t Dispatch(platform::WindowHandle window, uint32_t message, uintptr_t wParam,
                  intptr_t lParam) {
    auto found = S().windows.find(window);
    if (found == S().windows.end())
        return 0;
    return found->second(window, message, wParam, lParam);
}

int QuitPosted() {
    return S().quitPosted;
}
int QuitCode() {
    return S().quitCode;
}
int WindowExists(platform::WindowHandle window) {
    return S().windows.count(window) != 0;
}
platform::WindowHandle LastCreatedWindow() {
    return S().lastWindow;
}
const std::vector<Timer>& Timers() {
    return S().timers;
}
const std::vector<Hotkey>& Hotkeys() {
    return S().hotkeys;
}

int MenuChecked(uint32_t command) {
    auto found = S().checked.find(command);
    return found == S().checked.end() ? -1 : found->second;
}

int MenuEnabled(uint32_t command) {
    auto found = S().enabled.find(command);
    return found == S().enabled.end() ? -1 : found->second;
}

int PopupShownCount() {
    return S().popupShown;
}
void SetLaunchResult(uint32_t result) {
    S().launchResult = result;
}
const std::vector<std::string>& Launched() {
    return S().launched;
}
void SetMutexError(uint32_t error) {
    S().mutexError = error;
}
void SetWindowCreationFails(int fails) {
    S().windowCreationFails = fails;
}
void SetHookInstallFails(int fails) {
    S().hookInstallFails = fails;
}
int RecordHookInstalled() {
    return S().hook && S().recordProc;
}
void SetWhileMenuOpen(void (*action)()) {
    S().whileMenuOpen = action;
}

void SetKeyDown(uint32_t virtualKey, bool down) {
    S().keysDown[virtualKey & 0xFF] = down;
}

void SetMenuChoice(uint32_t command) {
    S().menuChoice = command;
}

void SetDialogAnswer(std::function<bool(platform::PlaySettings*)> answer) {
    S().dialogAnswer = std::move(answer);
}
int PlaybackPaused() {
    return S().playbackPaused;
}
int PlaybackHookInstalled() {
    return S().hook && S().playbackProc;
}
platform::HookHandle InstalledHook() {
    return S().hook;
}
void SetNextHookResult(intptr_t result) {
    S().nextHookResult = result;
}

void WhileNextHookIsRemoved(std::function<void()> action) {
    S().whileRemoving = std::move(action);
}

intptr_t RecordEvent(const platform::EventRecord& record) {
    if (record.time - S().clock < 0x80000000u)  // the clock is never behind an event
        S().clock = record.time;
    return CallRecordHook(HC_ACTION, reinterpret_cast<intptr_t>(&record));
}

void SetInputClock(uint32_t milliseconds) {
    S().clock = milliseconds;
}

intptr_t CallRecordHook(int code, intptr_t lParam) {
    if (!S().recordProc)
        return 0;
    return S().recordProc(code, 0, lParam);
}

intptr_t CallPlaybackHook(int code, platform::EventRecord* record) {
    if (!S().playbackProc)
        return 0;
    return S().playbackProc(code, 0, reinterpret_cast<intptr_t>(record));
}

std::vector<Played> PlayAll(size_t limit) {
    std::vector<Played> played;
    while (PlaybackHookInstalled() && played.size() < limit) {
        Played next = {};
        next.delay = static_cast<uint32_t>(CallPlaybackHook(HC_GETNEXT, &next.record));
        bool wait = next.record.message == platform::kWaitEvent;
        if (next.delay && !wait) {
            // The system asks again once the delay has passed.
            CallPlaybackHook(HC_GETNEXT, &next.record);
        }
        played.push_back(next);
        if (!wait)
            CallPlaybackHook(HC_SKIP);
    }
    return played;
}

}  // namespace fake

namespace platform {

int RegisterMainWindowClass(InstanceHandle, const char* className, WindowProcedure procedure,
                            int iconId, int menuId) {
    Log("RegisterMainWindowClass", {iconId, menuId}, className);
    S().classes[className] = procedure;
    return 1;
}

WindowHandle CreateHiddenWindow(InstanceHandle, const char* className) {
    Log("CreateHiddenWindow", {}, className);
    auto found = S().classes.find(className);
    if (S().windowCreationFails || found == S().classes.end())
        return nullptr;
    WindowHandle window = NewHandle();
    S().windows[window] = found->second;
    S().lastWindow = window;
    return window;
}

void DestroyWindowNow(WindowHandle window) {
    Log("DestroyWindow");
    auto found = S().windows.find(window);
    if (found == S().windows.end())
        return;
    WindowProcedure procedure = found->second;
    procedure(window, WM_DESTROY, 0, 0);
    S().windows.erase(window);
}

intptr_t DefaultWindowProcedure(WindowHandle, uint32_t message, uintptr_t wParam, intptr_t) {
    Log("DefaultWindowProcedure", {message, int64_t(wParam)});
    return 0;
}

intptr_t SendToWindow(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    Log("SendToWindow", {message, int64_t(wParam), lParam});
    return fake::Dispatch(window, message, wParam, lParam);
}

void PostToWindow(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    Log("PostToWindow", {message, static_cast<int64_t>(wParam), lParam});
    fake::PostToLoop(window, message, wParam, lParam);
}

void PostQuit(int exitCode) {
    Log("PostQuit", {exitCode});
    S().quitPosted = 1;
    S().quitCode = exitCode;
}

int RunMessageLoop(InstanceHandle, int acceleratorId) {
    Log("RunMessageLoop", {acceleratorId});
    while (!S().quitPosted) {
        if (S().queue.empty() && S().loopIdle) {
            void (*idle)() = S().loopIdle;
            S().loopIdle = nullptr;
            idle();
            continue;
        }
        if (S().queue.empty())
            return -1;
        Posted next = S().queue.front();
        S().queue.pop_front();
        if (next.message == WM_CANCELJOURNAL && !next.window)
            next.window = S().lastWindow;
        fake::Dispatch(next.window, next.message, next.wParam, next.lParam);
    }
    return S().quitCode;
}

int StartTimer(WindowHandle window, uintptr_t id, uint32_t milliseconds) {
    Log("StartTimer", {int64_t(id), milliseconds});
    RemoveTimer(window, id);
    S().timers.push_back({window, id, milliseconds});
    return 1;
}

void StopTimer(WindowHandle window, uintptr_t id) {
    Log("StopTimer", {int64_t(id)});
    RemoveTimer(window, id);
}

int RegisterGlobalHotkey(WindowHandle, int id, uint32_t modifiers, uint32_t virtualKey) {
    Log("RegisterHotKey", {id, modifiers, virtualKey});
    S().hotkeys.push_back({id, modifiers, virtualKey});
    return 1;
}

MenuHandle DetachPopupMenu(WindowHandle) {
    Log("DetachPopupMenu");
    return reinterpret_cast<MenuHandle>(0x2000);
}

void CheckMenuCommand(MenuHandle, uint32_t command, int checked) {
    Log("CheckMenuCommand", {command, checked});
    S().checked[command] = checked;
}

void EnableMenuCommand(MenuHandle, uint32_t command, int enabled) {
    Log("EnableMenuCommand", {command, enabled});
    S().enabled[command] = enabled;
}

bool EditPlaySettings(InstanceHandle, WindowHandle, int dialogId, int iconId,
                      PlaySettings* settings) {
    Log("EditPlaySettings", {dialogId, iconId, settings->repeat, settings->pauseMs,
                             settings->followWindows, settings->longestWaitS,
                             settings->waitForScreen, settings->goOnWhenReady, settings->mouse});
    PlaySettings edited = *settings;
    if (!S().dialogAnswer || !S().dialogAnswer(&edited))
        return false;
    *settings = edited;
    return true;
}

void ShowMessageBox(WindowHandle, const char* title, const char* text) {
    Log("ShowMessageBox", {}, std::string(title) + ": " + text);
}

void ReportToDebugger(const char* text) {
    Log("ReportToDebugger", {}, text);
}

uint32_t TrackPopupMenuAtCursor(MenuHandle, WindowHandle) {
    Log("TrackPopupMenu");
    S().popupShown++;
    if (S().whileMenuOpen)
        S().whileMenuOpen();
    uint32_t chosen = S().menuChoice;
    S().menuChoice = 0;
    return chosen;
}

int LoadTextResource(InstanceHandle, int id, char* text, int capacity) {
    const char* value = id == 109 ? "Quorvatellianis" : "";
    snprintf(text, static_cast<size_t>(capacity), "%s", value);
    return static_cast<int>(strlen(text));
}

IconHandle LoadIconResource(InstanceHandle, int id) {
    return reinterpret_cast<IconHandle>(static_cast<uintptr_t>(0x10000 + id));
}

uint32_t LaunchProgram(const char* command) {
    Log("LaunchProgram", {}, command);
    S().launched.push_back(command);
    return S().launchResult;
}

uint32_t CreateInstanceMutex(const char* name) {
    Log("CreateInstanceMutex", {}, name);
    return S().mutexError;
}

void SetSystemParameter(uint32_t action, uint32_t value) {
    Log("SetSystemParameter", {action, value});
}

HookHandle InstallRecordHook(InstanceHandle, HookProcedure procedure) {
    Log("InstallRecordHook");
    if (S().hookInstallFails || S().hook)
        return nullptr;
    S().recordProc = procedure;
    S().hook = reinterpret_cast<HookHandle>(0x3001);
    return S().hook;
}

HookHandle InstallPlaybackHook(InstanceHandle, HookProcedure procedure) {
    Log("InstallPlaybackHook");
    if (S().hookInstallFails || S().hook)
        return nullptr;
    S().playbackProc = procedure;
    S().hook = reinterpret_cast<HookHandle>(0x3002);
    return S().hook;
}

void PausePlayback(HookHandle hook, bool paused) {
    Log("PausePlayback", {paused});
    if (hook == S().hook && S().playbackProc)
        S().playbackPaused = paused;
}

void RemoveHook(HookHandle hook) {
    Log("RemoveHook");
    if (hook != S().hook)
        return;
    S().hook = nullptr;
    S().recordProc = nullptr;
    S().playbackProc = nullptr;
    S().playbackPaused = false;
    std::function<void()> action;
    action.swap(S().whileRemoving);
    if (action)
        action();
}

uint32_t InputClock() {
    return S().clock;
}

bool KeyIsDown(uint32_t virtualKey) {
    return virtualKey < 256 && S().keysDown[virtualKey];
}

intptr_t CallNextHook(HookHandle hook, int code, uintptr_t wParam, intptr_t lParam) {
    Log("CallNextHook", {code, int64_t(wParam), lParam},
        hook == S().hook && hook ? "own" : "other");
    return S().nextHookResult;
}

}  // namespace platform
