// Test controls of the host notification area. It keeps every call in order, with a copy of the
// record as it was sent, and answers like the shell: an icon (window and id) can be added once,
// and only an icon that is there can be changed or deleted.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/notify.h"
#include "platform/types.h"

namespace fake {

// The value ShellRestartMessage returns on the host.
const uint32_t kShellRestartMessage = 0xC0DE;

struct NotifyCall {
    uint32_t action;  // NIM_ADD, NIM_MODIFY or NIM_DELETE
    int result;       // what the call returned
    platform::WindowHandle window;
    uint32_t id;
    uint32_t flags;
    uint32_t callbackMessage;
    platform::IconHandle icon;
    std::string tip;
    std::string info;
    std::string infoTitle;
    uint32_t timeout;
    uint32_t infoFlags;
};

// Forgets the calls, the planned failures and every icon on show.
void ResetNotify();
// Every call since the last reset, oldest first.
const std::vector<NotifyCall>& NotifyCalls();
// Makes the nth call from now on fail (1 = the next one) and change nothing.
void FailNotifyCall(int nth);
// Icons that were added and not deleted.
int NotifyIconsShown();
// The shell restarted: every icon is gone, as after the real shell's crash.
void ForgetNotifyIcons();

}  // namespace fake
