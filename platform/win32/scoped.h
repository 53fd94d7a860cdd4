// Owners of Win32 resources that let go of them when they go, so that every early return and every
// failed step of a set-up releases what was taken before it. Each holds what its owner takes at
// construction and releases it in its destructor; an owner releases its members in the reverse
// order of their declaration, which is the order its comments give.
#pragma once

#include <windows.h>

namespace platform {
namespace win32 {

// A kernel handle (event, waitable timer) closed with CloseHandle. Null when none was made.
class ScopedHandle {
  public:
    ScopedHandle() = default;
    explicit ScopedHandle(HANDLE taken) : handle(taken) {}
    ~ScopedHandle() { Reset(nullptr); }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;

    HANDLE Get() const { return handle; }
    explicit operator bool() const { return handle != nullptr; }
    void Reset(HANDLE taken) {
        if (handle)
            CloseHandle(handle);
        handle = taken;
    }

  private:
    HANDLE handle = nullptr;
};

// A thread that must end before what it uses goes: the destructor waits for it. Whoever owns it
// tells the thread to end first.
class JoinedThread {
  public:
    JoinedThread() = default;
    ~JoinedThread() { Join(false); }
    JoinedThread(const JoinedThread&) = delete;
    JoinedThread& operator=(const JoinedThread&) = delete;

    void Start(LPTHREAD_START_ROUTINE routine, void* parameter, DWORD* id = nullptr) {
        Join(false);
        thread = CreateThread(nullptr, 0, routine, parameter, 0, id);
    }
    HANDLE Get() const { return thread; }
    explicit operator bool() const { return thread != nullptr; }
    // Waits for the thread's end and closes its handle. With `answerSentMessages`, messages sent
    // to this thread meanwhile (a low-level hook's call) are answered, for a thread that may be
    // waiting on one; nothing posted is dispatched.
    void Join(bool answerSentMessages) {
        if (!thread)
            return;
        if (answerSentMessages) {
            while (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE) ==
                   WAIT_OBJECT_0 + 1) {
                MSG message;
                PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
            }
        } else {
            WaitForSingleObject(thread, INFINITE);
        }
        CloseHandle(thread);
        thread = nullptr;
    }

  private:
    HANDLE thread = nullptr;
};

// A hook procedure, removed when its owner goes. Null when none was installed.
class ScopedHook {
  public:
    ScopedHook() = default;
    explicit ScopedHook(HHOOK taken) : hook(taken) {}
    ~ScopedHook() { Reset(nullptr); }
    ScopedHook(const ScopedHook&) = delete;
    ScopedHook& operator=(const ScopedHook&) = delete;

    HHOOK Get() const { return hook; }
    explicit operator bool() const { return hook != nullptr; }
    void Reset(HHOOK taken) {
        if (hook)
            UnhookWindowsHookEx(hook);
        hook = taken;
    }

  private:
    HHOOK hook = nullptr;
};

// A window, destroyed when its owner goes.
class ScopedWindow {
  public:
    ScopedWindow() = default;
    ~ScopedWindow() {
        if (window)
            DestroyWindow(window);
    }
    ScopedWindow(const ScopedWindow&) = delete;
    ScopedWindow& operator=(const ScopedWindow&) = delete;

    void Reset(HWND taken) {
        if (window)
            DestroyWindow(window);
        window = taken;
    }
    HWND Get() const { return window; }
    explicit operator bool() const { return window != nullptr; }

  private:
    HWND window = nullptr;
};

// A desktop opened by OpenInputDesktop, closed with CloseDesktop. Null when none was opened.
class ScopedDesktop {
  public:
    explicit ScopedDesktop(HDESK taken) : desktop(taken) {}
    ~ScopedDesktop() {
        if (desktop)
            CloseDesktop(desktop);
    }
    ScopedDesktop(const ScopedDesktop&) = delete;
    ScopedDesktop& operator=(const ScopedDesktop&) = delete;

    explicit operator bool() const { return desktop != nullptr; }

  private:
    HDESK desktop;
};

// A critical section that lives as long as its owner.
class CriticalSection {
  public:
    CriticalSection() { InitializeCriticalSection(&section); }
    ~CriticalSection() { DeleteCriticalSection(&section); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void Enter() { EnterCriticalSection(&section); }
    void Leave() { LeaveCriticalSection(&section); }

  private:
    CRITICAL_SECTION section;
};

// Holds a critical section until the end of its scope, or until Leave where what follows must
// run outside it.
class Locked {
  public:
    explicit Locked(CriticalSection& taken) : section(&taken) { section->Enter(); }
    ~Locked() { Leave(); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

    void Leave() {
        if (section)
            section->Leave();
        section = nullptr;
    }

  private:
    CriticalSection* section;
};

// The screen's device context, let go of with ReleaseDC. Null when the system gave none.
class ScopedScreenDc {
  public:
    ScopedScreenDc() : dc(GetDC(nullptr)) {}
    ~ScopedScreenDc() {
        if (dc)
            ReleaseDC(nullptr, dc);
    }
    ScopedScreenDc(const ScopedScreenDc&) = delete;
    ScopedScreenDc& operator=(const ScopedScreenDc&) = delete;

    HDC Get() const { return dc; }
    explicit operator bool() const { return dc != nullptr; }

  private:
    HDC dc;
};

// A memory device context, deleted with DeleteDC.
class ScopedMemoryDc {
  public:
    explicit ScopedMemoryDc(HDC like) : dc(CreateCompatibleDC(like)) {}
    ~ScopedMemoryDc() {
        if (dc)
            DeleteDC(dc);
    }
    ScopedMemoryDc(const ScopedMemoryDc&) = delete;
    ScopedMemoryDc& operator=(const ScopedMemoryDc&) = delete;

    HDC Get() const { return dc; }
    explicit operator bool() const { return dc != nullptr; }

  private:
    HDC dc;
};

// A GDI object (a bitmap, a pen), deleted with DeleteObject. Whatever selects it is declared
// after it, so that it is let go of first.
class ScopedGdiObject {
  public:
    explicit ScopedGdiObject(HGDIOBJ taken) : object(taken) {}
    ~ScopedGdiObject() {
        if (object)
            DeleteObject(object);
    }
    ScopedGdiObject(const ScopedGdiObject&) = delete;
    ScopedGdiObject& operator=(const ScopedGdiObject&) = delete;

    HGDIOBJ Get() const { return object; }
    explicit operator bool() const { return object != nullptr; }

  private:
    HGDIOBJ object;
};

// An object selected into a device context; the one it replaced is put back when it goes.
class ScopedSelection {
  public:
    ScopedSelection(HDC into, HGDIOBJ object) : dc(into), replaced(SelectObject(into, object)) {}
    ~ScopedSelection() {
        if (*this)
            SelectObject(dc, replaced);
    }
    ScopedSelection(const ScopedSelection&) = delete;
    ScopedSelection& operator=(const ScopedSelection&) = delete;

    // False when the selection failed. Bitmaps and pens are selected here, never a region, for
    // which SelectObject answers otherwise.
    explicit operator bool() const { return replaced != nullptr; }

  private:
    HDC dc;
    HGDIOBJ replaced;
};

}  // namespace win32
}  // namespace platform
