// The Configuration dialog. The dialog manager gives it the keyboard: Tab between the fields,
// Enter for OK and Esc for Cancel.
#include <windows.h>

#include <cstdio>

#include "platform/win32/input_win32.h"
#include "platform/win32/report.h"
#include "platform/window.h"

namespace platform {

namespace {

struct DialogState {
    PlaySettings* settings;
    HICON icon;
};

const char kTitle[] = "Configuration";

// Every number field takes 0 up to its largest number.
const struct {
    int control;
    uint32_t PlaySettings::*value;
    uint32_t most;
    const char* name;  // as its label calls it, with the unit after the range
    const char* unit;
} kFields[] = {{kRepeatField, &PlaySettings::repeat, kMostRepeats, "Repeat", ""},
               {kPauseField, &PlaySettings::pauseMs, kLongestPauseMs, "Pause between repeats",
                " (milliseconds)"},
               {kWaitField, &PlaySettings::longestWaitS, kLongestWaitS, "Longest wait for a window",
                " (seconds)"}};

const struct {
    int control;
    bool PlaySettings::*value;
} kBoxes[] = {{kFollowBox, &PlaySettings::followWindows},
              {kScreenBox, &PlaySettings::waitForScreen},
              {kGoOnBox, &PlaySettings::goOnWhenReady}};

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

// A plain whole number, as the user typed or pasted it: digits and nothing else (no sign, no
// blank), so that nothing is taken for what it is not.
bool ReadNumber(HWND dialog, int control, uint32_t* value) {
    char text[12] = "";
    UINT length = GetDlgItemTextA(dialog, control, text, sizeof text);
    if (length == 0 || length >= sizeof text - 1)
        return false;
    uint64_t number = 0;
    for (UINT i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        number = number * 10 + static_cast<uint64_t>(text[i] - '0');
    }
    if (number > UINT32_MAX)
        return false;
    *value = static_cast<uint32_t>(number);
    return true;
}

// Reads every field. A field that holds anything but a number in its range is refused with a
// message naming the range, and selected; the number the dialog itself showed in it stands (a
// recording's own pause may be longer than one typed may be).
bool ReadFields(HWND dialog, const PlaySettings& shown, PlaySettings* read) {
    for (const auto& field : kFields) {
        uint32_t value = 0;
        if (!ReadNumber(dialog, field.control, &value) ||
            (value > field.most && value != shown.*field.value)) {
            char text[160];
            snprintf(text, sizeof text, "%s must be a whole number from 0 to %u%s.", field.name,
                     field.most, field.unit);
            ShowMessageBox(dialog, kTitle, text);
            SelectField(dialog, field.control);
            return false;
        }
        read->*field.value = value;
    }
    for (const auto& box : kBoxes)
        read->*box.value = IsDlgButtonChecked(dialog, box.control) == BST_CHECKED;
    for (uint32_t way = 0; way < 3; way++)
        if (IsDlgButtonChecked(dialog, kMouseButtons + static_cast<int>(way)) == BST_CHECKED)
            read->mouse = way;
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
            for (const auto& field : kFields) {
                SetDlgItemInt(dialog, field.control, state->settings->*field.value, FALSE);
                char range[32];
                snprintf(range, sizeof range, "0 to %u", field.most);
                SetDlgItemTextA(dialog, field.control + kRangeOffset, range);
            }
            for (const auto& box : kBoxes)
                CheckDlgButton(dialog, box.control,
                               state->settings->*box.value ? BST_CHECKED : BST_UNCHECKED);
            CheckRadioButton(dialog, kMouseButtons, kMouseButtons + 2,
                             kMouseButtons + static_cast<int>(state->settings->mouse % 3));
            PlaceAtTheMouse(dialog);
            // Opened from the notification area, it must take the keyboard from whoever had it.
            SetForegroundWindow(dialog);
            SelectField(dialog, kRepeatField);
            return FALSE;  // the focus was set here
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK) {
                PlaySettings read = *state->settings;
                if (ReadFields(dialog, *state->settings, &read)) {
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
