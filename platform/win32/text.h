// UTF-8, the encoding of text inside the program, to the system's UTF-16 and back, at the
// boundary where the wide-character calls take and give it.
#pragma once

#include <string>

namespace platform {
namespace win32 {

// False for bytes that are not UTF-8 (`wide` is then empty).
bool ToWide(const char* utf8, std::wstring* wide);
// Text that is not UTF-8 comes out with replacement characters.
std::wstring Wide(const char* utf8);
std::string Utf8(const wchar_t* wide, int length = -1);

}  // namespace win32
}  // namespace platform
