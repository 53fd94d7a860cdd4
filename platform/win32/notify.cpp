#include <windows.h>
#include <shellapi.h>

#include <cstring>

#include "platform/notify.h"
#include "platform/win32/notify_win32.h"
#include "platform/win32/report.h"

static_assert(NIM_ADD == 0 && NIM_MODIFY == 1 && NIM_DELETE == 2, "notification calls");
static_assert(NIF_MESSAGE == 1 && NIF_ICON == 2 && NIF_TIP == 4 && NIF_INFO == 0x10,
              "notification flags");
static_assert(NIIF_INFO == 1, "balloon icon kinds");
#ifndef _WIN64
// The record with balloon members and nothing newer: 488 bytes in 8-bit form, 936 wide.
static_assert(NOTIFYICONDATAA_V2_SIZE == 488, "8-bit record with balloon members");
static_assert(NOTIFYICONDATAW_V2_SIZE == 936, "wide record with balloon members");
#endif

namespace platform {

namespace {

// The texts arrive in code page 936 and go out as UTF-16, so they read correctly whatever the
// system's code page is. A system without that code page installed still gets the ASCII right.
template <size_t N, size_t M>
void Widen(const char (&text)[N], WCHAR (&wide)[M]) {
    static_assert(M >= N, "a wide member holds every character of its 8-bit text");
    int length = static_cast<int>(strnlen(text, N - 1));
    int written = 0;
    if (length > 0) {
        written = MultiByteToWideChar(936, 0, text, length, wide, static_cast<int>(M - 1));
        if (written == 0)
            written = MultiByteToWideChar(CP_ACP, 0, text, length, wide, static_cast<int>(M - 1));
    }
    wide[written] = 0;
}

}  // namespace

namespace win32 {

void ToShellRecord(const NotifyIconRecord& record, NOTIFYICONDATAW* data) {
    std::memset(data, 0, sizeof(*data));
    // The size tells the shell which members to read; this one has the balloon and no more, which
    // every shell since balloons came understands. A bigger-than-known size would fail on older
    // systems, and a smaller one loses the balloon.
    data->cbSize = NOTIFYICONDATAW_V2_SIZE;
    data->hWnd = static_cast<HWND>(record.window);
    data->uID = record.id;
    data->uFlags = record.flags;
    data->uCallbackMessage = record.callbackMessage;
    data->hIcon = static_cast<HICON>(record.icon);
    Widen(record.tip, data->szTip);
    Widen(record.info, data->szInfo);
    data->uTimeout = record.timeout;
    Widen(record.infoTitle, data->szInfoTitle);
    data->dwInfoFlags = record.infoFlags;
}

}  // namespace win32

int NotifyIcon(uint32_t action, const NotifyIconRecord& record) {
    NOTIFYICONDATAW data;
    win32::ToShellRecord(record, &data);
    SetLastError(NO_ERROR);
    if (Shell_NotifyIconW(action, &data))
        return 1;
    // The shell often gives no reason; the error then reads 0.
    win32::ReportLastError("Shell_NotifyIconW", "action %u, flags 0x%x", action, record.flags);
    return 0;
}

uint32_t ShellRestartMessage() {
    return RegisterWindowMessageA("TaskbarCreated");
}

}  // namespace platform
