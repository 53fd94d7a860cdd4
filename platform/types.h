// Plain handle and record types shared by the platform services. The system code sees handles
// only as opaque values; platform/win32 maps them onto Win32 handles, platform/fake onto its own.
#pragma once

#include <cstdint>

namespace platform {

typedef void* WindowHandle;
typedef void* InstanceHandle;
typedef void* HookHandle;
typedef void* MenuHandle;
typedef void* IconHandle;
typedef void* FileHandle;

// The value a failed file open leaves behind (INVALID_HANDLE_VALUE on Win32).
static FileHandle const kInvalidFile = reinterpret_cast<FileHandle>(~static_cast<uintptr_t>(0));

}  // namespace platform
