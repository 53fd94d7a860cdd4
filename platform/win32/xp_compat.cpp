// The C++ runtime's thread library imports GetTickCount64, which Windows XP lacks: with that
// import the program would not even start there. The import is answered here instead, before
// the linker reaches kernel32: the system's own function where it exists, else the 32-bit tick
// count widened across its wraps. Linked into the program itself, not the library, so it is
// always present when the runtime asks.
#include <windows.h>

namespace {

ULONGLONG WINAPI TickCount64() {
    typedef ULONGLONG(WINAPI * Function)();
    static Function system = reinterpret_cast<Function>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetTickCount64")));
    if (system)
        return system();
    // Every 49.7 days the 32-bit count wraps; count the wraps seen. The runtime only times
    // short waits with it, so a race between two threads here costs nothing that matters.
    static DWORD last = 0;
    static ULONGLONG wraps = 0;
    DWORD now = GetTickCount();
    if (now < last)
        wraps += 0x100000000ULL;
    last = now;
    return wraps + now;
}

}  // namespace

#ifdef _WIN64
extern "C" ULONGLONG(WINAPI* importedTickCount64)() __asm__("__imp_GetTickCount64");
#else
extern "C" ULONGLONG(WINAPI* importedTickCount64)() __asm__("__imp__GetTickCount64@0");
#endif
ULONGLONG(WINAPI* importedTickCount64)() = TickCount64;
