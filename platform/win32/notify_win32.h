// The Win32 notification service's record as the shell receives it, for its tests.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include "platform/notify.h"

namespace platform {
namespace win32 {

// What Shell_NotifyIconW is handed for `record`: the texts turned from code page 936 into
// UTF-16, the size of the record with balloon members.
void ToShellRecord(const NotifyIconRecord& record, NOTIFYICONDATAW* data);

}  // namespace win32
}  // namespace platform
