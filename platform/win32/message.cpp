// Telling the user, or the debug channel, what the program could not do.
#include <windows.h>

#include "platform/win32/input_win32.h"
#include "platform/win32/report.h"
#include "platform/win32/text.h"
#include "platform/window.h"

namespace platform {

void ShowMessageBox(WindowHandle owner, const char* title, const char* text) {
    // A program in the notification area has no window in front: the box must come there. It is
    // the program's own window, which the user works whatever the program is doing.
    win32::OwnWindowOpen open;
    if (!MessageBoxW(static_cast<HWND>(owner), win32::Wide(text).c_str(),
                     win32::Wide(title).c_str(), MB_OK | MB_ICONWARNING | MB_SETFOREGROUND))
        win32::ReportLastError("MessageBoxW", nullptr);
}

void ReportToDebugger(const char* text) {
    win32::ReportText(text);
}

}  // namespace platform
