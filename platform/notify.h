// Notification-area service: add, modify and delete one icon with its tooltip and an optional
// balloon, and learn the message by which the shell announces that it has restarted.
#pragma once

#include <cstdint>

#include "platform/types.h"

// Values of the platform's notification calls, for code that does not see <shellapi.h>.
#ifndef NIM_ADD
#define NIM_ADD 0x0
#define NIM_MODIFY 0x1
#define NIM_DELETE 0x2
#define NIF_MESSAGE 0x1
#define NIF_ICON 0x2
#define NIF_TIP 0x4
#define NIF_INFO 0x10
#define NIIF_NONE 0x0
#define NIIF_INFO 0x1
#define NIIF_WARNING 0x2
#define NIIF_ERROR 0x3
#endif

namespace platform {

// Everything the notification area is told about one icon. Texts are NUL-terminated bytes in
// code page 936 (ASCII reads the same there); the service converts them for the shell, so they
// read correctly whatever the system's own code page is.
struct NotifyIconRecord {
    WindowHandle window;  // receives callbackMessage, lParam the mouse message
    uint32_t id;          // tells this window's icons apart; fixed for an icon's life
    uint32_t flags;       // NIF_MESSAGE, NIF_ICON, NIF_TIP; NIF_INFO to show the balloon
    uint32_t callbackMessage;
    IconHandle icon;
    char tip[128];
    char info[256];    // balloon text; "\r" separates lines
    uint32_t timeout;  // balloon time-out in milliseconds
    char infoTitle[64];
    uint32_t infoFlags;  // balloon icon kind: NIIF_NONE, NIIF_INFO, NIIF_WARNING, NIIF_ERROR
};

// Sends the record with NIM_ADD, NIM_MODIFY or NIM_DELETE. Nonzero when the shell accepted it:
// adding an icon that is there already, or changing or deleting one that is not, fails.
int NotifyIcon(uint32_t action, const NotifyIconRecord& record);

// The message that the shell broadcasts to top-level windows after it (re)starts, when every
// icon has to be added again. The same value for the whole session.
uint32_t ShellRestartMessage();

}  // namespace platform
