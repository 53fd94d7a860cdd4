#include "cli/journal_text_names.h"

#include <cstdio>
#include <cstring>

#include "journal/journal_sections.h"

namespace qvjournal {
namespace text {

const KeyName kKeys[] = {
    {0x08, 0x0E, "Backspace"}, {0x09, 0x0F, "Tab"},         {0x0C, 0x4C, "Clear"},
    {0x0D, 0x1C, "Enter"},     {0x10, 0x2A, "Shift"},       {0x11, 0x1D, "Ctrl"},
    {0x12, 0x38, "Alt"},       {0x13, 0x45, "Pause"},       {0x14, 0x3A, "CapsLock"},
    {0x1B, 0x01, "Esc"},       {0x20, 0x39, "Space"},       {0x21, 0x49, "PageUp"},
    {0x22, 0x51, "PageDown"},  {0x23, 0x4F, "End"},         {0x24, 0x47, "Home"},
    {0x25, 0x4B, "ArrowLeft"}, {0x26, 0x48, "ArrowUp"},     {0x27, 0x4D, "ArrowRight"},
    {0x28, 0x50, "ArrowDown"}, {0x2C, 0x37, "PrintScreen"}, {0x2D, 0x52, "Insert"},
    {0x2E, 0x53, "Delete"},    {0x5B, 0x5B, "LWin"},        {0x5C, 0x5C, "RWin"},
    {0x5D, 0x5D, "Apps"},      {0x60, 0x52, "Num0"},        {0x61, 0x4F, "Num1"},
    {0x62, 0x50, "Num2"},      {0x63, 0x51, "Num3"},        {0x64, 0x4B, "Num4"},
    {0x65, 0x4C, "Num5"},      {0x66, 0x4D, "Num6"},        {0x67, 0x47, "Num7"},
    {0x68, 0x48, "Num8"},      {0x69, 0x49, "Num9"},        {0x6A, 0x37, "NumMultiply"},
    {0x6B, 0x4E, "NumAdd"},    {0x6D, 0x4A, "NumSubtract"}, {0x6E, 0x53, "NumDecimal"},
    {0x6F, 0x35, "NumDivide"}, {0x70, 0x3B, "F1"},          {0x71, 0x3C, "F2"},
    {0x72, 0x3D, "F3"},        {0x73, 0x3E, "F4"},          {0x74, 0x3F, "F5"},
    {0x75, 0x40, "F6"},        {0x76, 0x41, "F7"},          {0x77, 0x42, "F8"},
    {0x78, 0x43, "F9"},        {0x79, 0x44, "F10"},         {0x7A, 0x57, "F11"},
    {0x7B, 0x58, "F12"},       {0x7C, 0x64, "F13"},         {0x7D, 0x65, "F14"},
    {0x7E, 0x66, "F15"},       {0x7F, 0x67, "F16"},         {0x80, 0x68, "F17"},
    {0x81, 0x69, "F18"},       {0x82, 0x6A, "F19"},         {0x83, 0x6B, "F20"},
    {0x84, 0x6C, "F21"},       {0x85, 0x6D, "F22"},         {0x86, 0x6E, "F23"},
    {0x87, 0x76, "F24"},       {0x90, 0x45, "NumLock"},     {0x91, 0x46, "ScrollLock"},
    {0xA0, 0x2A, "LShift"},    {0xA1, 0x36, "RShift"},      {0xA2, 0x1D, "LCtrl"},
    {0xA3, 0x1D, "RCtrl"},     {0xA4, 0x38, "LAlt"},        {0xA5, 0x38, "RAlt"},
    {0xBA, 0x27, "Semicolon"}, {0xBB, 0x0D, "Equals"},      {0xBC, 0x33, "Comma"},
    {0xBD, 0x0C, "Minus"},     {0xBE, 0x34, "Period"},      {0xBF, 0x35, "Slash"},
    {0xC0, 0x29, "Backquote"}, {0xDB, 0x1A, "LBracket"},    {0xDC, 0x2B, "Backslash"},
    {0xDD, 0x1B, "RBracket"},  {0xDE, 0x28, "Quote"},
};

const size_t kKeyCount = sizeof kKeys / sizeof kKeys[0];
const char* const kButtons[3] = {"left", "right", "middle"};
const char* const kActions[3] = {"down", "up", "double"};
const MotionWord kMotionWords[] = {{journal::kMotionHidden, "hidden"},
                                   {journal::kMotionConfined, "confined"},
                                   {journal::kMotionPlayed, "played"}};
const size_t kMotionWordCount = sizeof kMotionWords / sizeof kMotionWords[0];

// Their scan codes follow the keyboard's rows.
uint8_t RowScan(char c) {
    static const struct {
        const char* keys;
        uint8_t first;
    } rows[] = {{"1234567890", 0x02}, {"QWERTYUIOP", 0x10}, {"ASDFGHJKL", 0x1E}, {"ZXCVBNM", 0x2C}};
    for (const auto& row : rows) {
        const char* at = strchr(row.keys, c);
        if (c && at)
            return uint8_t(row.first + (at - row.keys));
    }
    return 0;
}

std::string KeyNameOf(uint8_t vk) {
    if ((vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z'))
        return std::string(1, char(vk));
    for (const KeyName& key : kKeys)
        if (key.vk == vk)
            return key.name;
    char hex[8];
    snprintf(hex, sizeof hex, "0x%02X", vk);
    return hex;
}

bool SameLetters(const std::string& a, const char* b) {
    size_t n = strlen(b);
    if (a.size() != n)
        return false;
    for (size_t i = 0; i < n; i++) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z')
            x = char(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z')
            y = char(y - 'a' + 'A');
        if (x != y)
            return false;
    }
    return true;
}

std::string Hex(uint32_t value, int digits) {
    char text[16];
    snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

std::string HexBytes(const uint8_t* bytes, size_t count) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < count; i++) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 15];
    }
    return text;
}

std::string TagName(const char* tag) {
    bool word = true;
    for (int i = 0; i < 4; i++)
        word = word && tag[i] > ' ' && tag[i] < 0x7F && tag[i] != '#' && tag[i] != '"';
    return word ? std::string(tag, 4) : "0x" + HexBytes(reinterpret_cast<const uint8_t*>(tag), 4);
}

size_t Significant(const uint8_t* bytes, size_t count) {
    while (count && !bytes[count - 1])
        count--;
    return count;
}

}  // namespace text
}  // namespace qvjournal
