// The Configuration dialog. The dialog manager gives it the keyboard: Tab between the fields,
// Enter for OK and Esc for Cancel.
#include <windows.h>

#include "platform/win32/input_win32.h"
#include "platform/win32/report.h"
#include "platform/window.h"

namespace platform {

namespace {

struct DialogState {
    PlaySettings* settings;
    HICON icon;
};

const struct {
    int control;
    uint32_t PlaySettings::*value;
    uint32_t most;
} kFields[] = {{kRepeatField, &PlaySettings::repeat, kMostRepeats},
               {kPauseField, &PlaySettings::pauseMs, kLongestPauseMs},
               {kWaitField, &PlaySettings::longestWaitS, kLongestWaitS}};

void SelectField(HWND dialog, int control) {
    HWND field = GetDlgItem(dialog, control);
    SetFocus(field);
    SendMessageA(field, EM_SETSEL, 0, -1);
}

// Centred on the work area of the monitor the mouse is on, where the user is looking.
void PlaceAtTheMouse(HWND dialog) {
    POINT mouse = {0, 0};
    GetCursorPos(&mouse);
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    RECT own;
    if (!GetMonitorInfoA(MonitorFromPoint(mouse, MONITOR_DEFAULTTONEAREST), &monitor) ||
        !GetWindowRect(dialog, &own))
        return;
    const RECT& area = monitor.rcWork;
    int width = own.right - own.left, height = own.bottom - own.top;
    SetWindowPos(dialog, nullptr, area.left + (area.right - area.left - width) / 2,
                 area.top + (area.bottom - area.top - height) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Reads every field; on a field that is empty or too large, selects it and returns false.
bool ReadFields(HWND dialog, PlaySettings* read) {
    for (const auto& field : kFields) {
        BOOL number = FALSE;
        UINT value = GetDlgItemInt(dialog, field.control, &number, FALSE);
        if (!number || value > field.most) {
            MessageBeep(MB_ICONWARNING);
            SelectField(dialog, field.control);
            return false;
        }
        read->*field.value = value;
    }
    read->followWindows = IsDlgButtonChecked(dialog, kFollowBox) == BST_CHECKED;
    return true;
}

INT_PTR CALLBACK SettingsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    DialogState* state = reinterpret_cast<DialogState*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
        case WM_INITDIALOG: {
            state = reinterpret_cast<DialogState*>(lParam);
            SetWindowLongPtrA(dialog, DWLP_USER, lParam);
            if (state->icon) {
                SendMessageA(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(state->icon));
                SendMessageA(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(state->icon));
            }
            for (const auto& field : kFields)
                SetDlgItemInt(dialog, field.control, state->settings->*field.value, FALSE);
            CheckDlgButton(dialog, kFollowBox,
                           state->settings->followWindows ? BST_CHECKED : BST_UNCHECKED);
            PlaceAtTheMouse(dialog);
            // Opened from the notification area, it must take the keyboard from whoever had it.
            SetForegroundWindow(dialog);
            SelectField(dialog, kRepeatField);
            return FALSE;  // the focus was set here
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK) {
                PlaySettings read = *state->settings;
                if (ReadFields(dialog, &read)) {
                    *state->settings = read;
                    EndDialog(dialog, IDOK);
                }
                return TRUE;
            }
            if (LOWORD(wParam) == IDCANCEL) {
                EndDialog(dialog, IDCANCEL);
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace

bool EditPlaySettings(InstanceHandle instance, WindowHandle owner, int dialogId, int iconId,
                      PlaySettings* settings) {
    HINSTANCE module = static_cast<HINSTANCE>(instance);
    DialogState state = {settings, LoadIconA(module, MAKEINTRESOURCEA(iconId))};
    win32::OwnWindowOpen open;
    INT_PTR result = DialogBoxParamA(module, MAKEINTRESOURCEA(dialogId), static_cast<HWND>(owner),
                                     SettingsProc, reinterpret_cast<LPARAM>(&state));
    if (result == -1 || result == 0)
        win32::ReportLastError("DialogBoxParamA", "dialog %d", dialogId);
    return result == IDOK;
}

}  // namespace platform
