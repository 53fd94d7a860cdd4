// The input layer's operations on Win32. Where the system still grants journal hooks (before
// Vista, and never under Wine, which installs them but never calls them) they are used directly
// through thin thunks. Everywhere else recording runs on low-level keyboard and mouse hooks
// (record_source.cpp) and playback on SendInput (playback_sink.cpp), with the same calls to the
// hook procedure, on the same thread, as the native hooks make.
#include <windows.h>

#include "platform/input.h"
#include "platform/win32/input_win32.h"
#include "platform/win32/report.h"
#include "platform/win32/scoped.h"

namespace platform {

namespace win32 {

bool NativeJournalHooksPreferred() {
    static int preferred = -1;
    if (preferred < 0) {
        HMODULE ntdll = GetModuleHandleA("ntdll.dll");
        bool wine = ntdll && GetProcAddress(ntdll, "wine_get_version");
        DWORD major = LOBYTE(LOWORD(GetVersion()));
        preferred = (!wine && major < 6) ? 1 : 0;
    }
    return preferred == 1;
}

bool IsEmulatedHook(void* hook) {
    return (IsRecordSourceHandle(hook) && RecordSourceInstalled()) ||
           (IsPlaybackSinkHandle(hook) && PlaybackSinkInstalled());
}

namespace {

uint32_t HandleToField(HWND window) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window));
}

// Window handles are 32-bit values, sign-extended in 64-bit processes.
HWND FieldToHandle(uint32_t field) {
    return reinterpret_cast<HWND>(static_cast<intptr_t>(static_cast<int32_t>(field)));
}

EventRecord FromEventMsg(const EVENTMSG& message) {
    EventRecord record;
    record.message = message.message;
    record.paramL = message.paramL;
    record.paramH = message.paramH;
    record.time = message.time;
    record.hwnd = HandleToField(message.hwnd);
    return record;
}

}  // namespace

void ToEventMsg(const EventRecord& record, EVENTMSG* message) {
    // A journal record has no room for a wheel delta or an X button: a file recorded through
    // the low-level hooks replays here as a move to the wheel's position, and as the first X
    // button, rather than as message numbers the system does not know.
    message->message = record.message & 0xFFFF;
    message->paramL = record.paramL;
    message->paramH = record.paramH;
    message->time = record.time;
    message->hwnd = FieldToHandle(record.hwnd);
}

}  // namespace win32

namespace {

HookProcedure nativeRecordProcedure;
HookProcedure nativePlaybackProcedure;
// The native hooks installed, from their installation until RemoveHook.
win32::ScopedHook nativeRecordHook;
win32::ScopedHook nativePlaybackHook;

LRESULT CALLBACK NativeRecordThunk(int code, WPARAM wParam, LPARAM lParam) {
    HookProcedure procedure = nativeRecordProcedure;
    if (!procedure)
        return CallNextHookEx(nullptr, code, wParam, lParam);
    if (code == HC_ACTION && lParam != 0) {
        EventRecord record = win32::FromEventMsg(*reinterpret_cast<const EVENTMSG*>(lParam));
        return procedure(code, wParam, reinterpret_cast<intptr_t>(&record));
    }
    return procedure(code, wParam, lParam);
}

// The system's journal has no event that is nothing: a wait goes out as a move to where the
// pointer is, and its HC_SKIP is not passed on. The system asks again for the same event as
// often as it looks at its input; the procedure is asked again only once the wait is over.
bool nativeWaitPending;
DWORD nativeWaitEnds;
bool nativeStandInOut;  // the last event handed out stood in for a wait

LRESULT StandIn(EVENTMSG* message, DWORD delay) {
    POINT pointer = {0, 0};
    GetCursorPos(&pointer);
    EventRecord record = {WM_MOUSEMOVE, static_cast<uint32_t>(pointer.x),
                          static_cast<uint32_t>(pointer.y), GetTickCount(), 0};
    win32::ToEventMsg(record, message);
    nativeStandInOut = true;
    return static_cast<LRESULT>(delay);
}

LRESULT CALLBACK NativePlaybackThunk(int code, WPARAM wParam, LPARAM lParam) {
    HookProcedure procedure = nativePlaybackProcedure;
    if (!procedure)
        return CallNextHookEx(nullptr, code, wParam, lParam);
    if (code == HC_GETNEXT && lParam != 0) {
        EVENTMSG* message = reinterpret_cast<EVENTMSG*>(lParam);
        if (nativeWaitPending) {
            int32_t left = static_cast<int32_t>(nativeWaitEnds - GetTickCount());
            if (left > 0)
                return StandIn(message, static_cast<DWORD>(left));
            nativeWaitPending = false;
        }
        // Start from the system's record so that a procedure that writes nothing (a paused
        // playback) leaves it as it was.
        EventRecord record = win32::FromEventMsg(*message);
        LRESULT delay = procedure(code, wParam, reinterpret_cast<intptr_t>(&record));
        // The system asks for an event once the one before it was processed: a wait that is
        // over already is asked again now (once; a procedure never waits for nothing twice).
        if (record.message == kWaitEvent && delay == 0)
            delay = procedure(code, wParam, reinterpret_cast<intptr_t>(&record));
        if (record.message == kWaitEvent) {
            nativeWaitPending = true;
            nativeWaitEnds = GetTickCount() + static_cast<DWORD>(delay);
            return StandIn(message, static_cast<DWORD>(delay));
        }
        nativeStandInOut = false;
        if ((record.message & 0xFFFF) == WM_MOUSEMOVE && (record.message & kAsTheDeviceSent)) {
            // The system's journal has no relative move: the motion goes from where the pointer is.
            POINT pointer = {0, 0};
            GetCursorPos(&pointer);
            record.paramL = static_cast<uint32_t>(pointer.x + static_cast<int32_t>(record.paramL));
            record.paramH = static_cast<uint32_t>(pointer.y + static_cast<int32_t>(record.paramH));
        }
        win32::ToEventMsg(record, message);
        return delay;
    }
    if (code == HC_SKIP && nativeStandInOut) {
        nativeStandInOut = false;
        return 0;
    }
    return procedure(code, wParam, lParam);
}

HINSTANCE ModuleOrSelf(InstanceHandle instance) {
    return instance ? static_cast<HINSTANCE>(instance) : GetModuleHandleW(nullptr);
}

}  // namespace

HookHandle InstallRecordHook(InstanceHandle instance, HookProcedure procedure) {
    if (!procedure)
        return nullptr;
    if (win32::NativeJournalHooksPreferred()) {
        nativeRecordProcedure = procedure;
        nativeRecordHook.Reset(
            SetWindowsHookExA(WH_JOURNALRECORD, NativeRecordThunk, ModuleOrSelf(instance), 0));
        if (nativeRecordHook)
            return nativeRecordHook.Get();
        win32::ReportLastError("SetWindowsHookExA", "WH_JOURNALRECORD; recording on the emulation");
    }
    return win32::InstallEmulatedRecord(ModuleOrSelf(instance), procedure);
}

HookHandle InstallPlaybackHook(InstanceHandle instance, HookProcedure procedure) {
    if (!procedure)
        return nullptr;
    if (win32::NativeJournalHooksPreferred()) {
        nativePlaybackProcedure = procedure;
        nativeWaitPending = nativeStandInOut = false;
        // The system takes no key from the user while it plays: the modifiers of the hotkey that
        // started the playback would stay down for it and join the first replayed keys.
        win32::LetGoOfUserModifiers();
        nativePlaybackHook.Reset(
            SetWindowsHookExA(WH_JOURNALPLAYBACK, NativePlaybackThunk, ModuleOrSelf(instance), 0));
        if (nativePlaybackHook)
            return nativePlaybackHook.Get();
        win32::ReportLastError("SetWindowsHookExA", "WH_JOURNALPLAYBACK; playing on the emulation");
    }
    return win32::InstallEmulatedPlayback(procedure);
}

void RemoveHook(HookHandle hook) {
    if (win32::IsRecordSourceHandle(hook))
        win32::RemoveEmulatedRecord();
    else if (win32::IsPlaybackSinkHandle(hook))
        win32::RemoveEmulatedPlayback();
    else if (hook && hook == nativeRecordHook.Get())
        nativeRecordHook.Reset(nullptr);
    else if (hook && hook == nativePlaybackHook.Get())
        nativePlaybackHook.Reset(nullptr);
}

void PausePlayback(HookHandle hook, bool paused) {
    if (win32::IsPlaybackSinkHandle(hook))
        win32::PauseEmulatedPlayback(paused);
}

uint32_t InputClock() {
    return GetTickCount();
}

bool KeyIsDown(uint32_t virtualKey) {
    return GetAsyncKeyState(static_cast<int>(virtualKey)) < 0;
}

intptr_t CallNextHook(HookHandle hook, int code, uintptr_t wParam, intptr_t lParam) {
    if (win32::IsRecordSourceHandle(hook) || win32::IsPlaybackSinkHandle(hook))
        return 0;
    return CallNextHookEx(static_cast<HHOOK>(hook), code, wParam, lParam);
}

}  // namespace platform
