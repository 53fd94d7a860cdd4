#include "platform/win32/text.h"

#include <windows.h>

namespace platform {
namespace win32 {

namespace {

std::wstring Convert(const char* utf8, DWORD flags, bool* valid) {
    std::wstring wide;
    int length = MultiByteToWideChar(CP_UTF8, flags, utf8, -1, nullptr, 0);
    *valid = length > 0;
    if (length > 1) {
        wide.resize(static_cast<size_t>(length));
        MultiByteToWideChar(CP_UTF8, flags, utf8, -1, &wide[0], length);
        wide.resize(static_cast<size_t>(length - 1));
    }
    return wide;
}

}  // namespace

bool ToWide(const char* utf8, std::wstring* wide) {
    bool valid = false;
    *wide = Convert(utf8, MB_ERR_INVALID_CHARS, &valid);
    return valid;
}

std::wstring Wide(const char* utf8) {
    bool valid = false;
    return Convert(utf8 ? utf8 : "", 0, &valid);
}

std::string Utf8(const wchar_t* wide, int length) {
    std::string utf8;
    int size = WideCharToMultiByte(CP_UTF8, 0, wide, length, nullptr, 0, nullptr, nullptr);
    if (size > 0) {
        utf8.resize(static_cast<size_t>(size));
        WideCharToMultiByte(CP_UTF8, 0, wide, length, &utf8[0], size, nullptr, nullptr);
        if (length < 0)
            utf8.resize(static_cast<size_t>(size - 1));  // the terminator
    }
    return utf8;
}

}  // namespace win32
}  // namespace platform
