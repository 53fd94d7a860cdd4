// Waits for moments on the QueryPerformanceCounter timeline: a high-resolution waitable timer
// where the system has one (Windows 10 1803 and later), else an ordinary one with the system's
// timer resolution raised to 1 ms; the last stretch of every wait is spun.
#include <windows.h>
#include <mmsystem.h>

#include "platform/win32/input_win32.h"
#include "platform/win32/report.h"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace platform {
namespace win32 {

namespace {

typedef HANDLE(WINAPI* CreateWaitableTimerExWFunction)(LPSECURITY_ATTRIBUTES, LPCWSTR, DWORD,
                                                       DWORD);

LONGLONG Now() {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

}  // namespace

HANDLE CreateDeadlineTimer(bool* raisedResolution) {
    *raisedResolution = false;
    CreateWaitableTimerExWFunction createEx =
        reinterpret_cast<CreateWaitableTimerExWFunction>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleA("kernel32.dll"), "CreateWaitableTimerExW")));
    if (createEx) {
        HANDLE timer =
            createEx(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS);
        if (timer)
            return timer;
    }
    HANDLE timer = CreateWaitableTimerW(nullptr, FALSE, nullptr);
    if (!timer)
        ReportLastError("CreateWaitableTimerW", "the playback's clock; timing on waits instead");
    if (timer && timeBeginPeriod(1) == TIMERR_NOERROR)
        *raisedResolution = true;
    return timer;
}

LONGLONG TicksIn(uint64_t milliseconds, LONGLONG frequency) {
    uint64_t f = static_cast<uint64_t>(frequency);
    return static_cast<LONGLONG>(milliseconds / 1000 * f + milliseconds % 1000 * f / 1000);
}

bool WaitForDeadline(LONGLONG deadline, HANDLE timer, HANDLE stop,
                     const std::atomic<bool>& stopping, LONGLONG frequency, LONGLONG spinTicks) {
    HANDLE stopOrTimer[2] = {stop, timer};
    for (;;) {
        if (stopping.load())
            return false;
        LONGLONG sleepTicks = deadline - spinTicks - Now();
        if (sleepTicks <= 0)
            break;
        DWORD woke;
        LARGE_INTEGER due;
        // Relative, in 100 ns units; split so that long waits cannot overflow.
        due.QuadPart =
            -(sleepTicks / frequency * 10000000 + sleepTicks % frequency * 10000000 / frequency);
        if (due.QuadPart == 0)
            due.QuadPart = -1;
        if (timer && SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE)) {
            woke = WaitForMultipleObjects(2, stopOrTimer, FALSE, INFINITE);
            if (woke == WAIT_FAILED)
                timer = nullptr;
        } else {
            // Without a timer, whole milliseconds on the stop event; the spin does the rest.
            LONGLONG milliseconds = sleepTicks * 1000 / frequency;
            if (milliseconds == 0)
                break;
            woke = WaitForSingleObject(
                stop, milliseconds < 0x7FFFFFFF ? static_cast<DWORD>(milliseconds) : 0x7FFFFFFF);
        }
        if (woke == WAIT_OBJECT_0)
            return false;
    }
    while (Now() < deadline) {
        if (stopping.load(std::memory_order_relaxed))
            return false;
        YieldProcessor();
    }
    return !stopping.load();
}

}  // namespace win32
}  // namespace platform
