#include "journal/hotkey_filter.h"

namespace journal {

namespace {

const uint32_t kModifierKeys[][2] = {
    {0x10, MOD_SHIFT},   {0xA0, MOD_SHIFT},   {0xA1, MOD_SHIFT},
    {0x11, MOD_CONTROL}, {0xA2, MOD_CONTROL}, {0xA3, MOD_CONTROL},
    {0x12, MOD_ALT},     {0xA4, MOD_ALT},     {0xA5, MOD_ALT},
};

uint32_t Kind(const platform::EventRecord& event) {
    return event.message & 0xFFFF;
}

}  // namespace

bool IsKeyDown(const platform::EventRecord& event) {
    return Kind(event) == WM_KEYDOWN || Kind(event) == WM_SYSKEYDOWN;
}

bool IsKeyUp(const platform::EventRecord& event) {
    return Kind(event) == WM_KEYUP || Kind(event) == WM_SYSKEYUP;
}

uint32_t KeyOf(const platform::EventRecord& event) {
    uint32_t key = event.paramL & 0xFF;
    switch (ModifierOf(key)) {
        case MOD_SHIFT:
            return 0x10;
        case MOD_CONTROL:
            return 0x11;
        case MOD_ALT:
            return 0x12;
        default:
            return key;
    }
}

uint32_t ModifierOf(uint32_t key) {
    for (const auto& m : kModifierKeys)
        if (m[0] == key)
            return m[1];
    return 0;
}

bool IsButtonDown(const platform::EventRecord& event) {
    uint32_t kind = Kind(event);
    return kind == WM_LBUTTONDOWN || kind == WM_RBUTTONDOWN || kind == WM_MBUTTONDOWN ||
           kind == WM_XBUTTONDOWN;
}

bool IsButtonUp(const platform::EventRecord& event) {
    uint32_t kind = Kind(event);
    return kind == WM_LBUTTONUP || kind == WM_RBUTTONUP || kind == WM_MBUTTONUP ||
           kind == WM_XBUTTONUP;
}

bool InChord(const platform::HotkeyChord& chord, uint32_t key) {
    return key == chord.key || (ModifierOf(key) & chord.modifiers) != 0;
}

void HotkeyFilter::Reset() {
    held = 0;
    pressed.reset();
    last = nullptr;
}

bool HotkeyFilter::Take(const platform::EventRecord& event) {
    bool down = IsKeyDown(event);
    if (!down && !IsKeyUp(event))
        return false;
    uint32_t key = KeyOf(event);
    if (uint32_t modifier = ModifierOf(key)) {
        held = down ? held | modifier : held & ~modifier;
        return false;
    }
    if (pressed[key]) {
        // The chord's key held down repeats it; its release ends it.
        if (!down)
            pressed.reset(key);
        return true;
    }
    if (!down)
        return false;
    for (size_t i = 0; i < count; i++) {
        if (chords[i].key == key && (chords[i].modifiers & held) == chords[i].modifiers) {
            pressed.set(key);
            last = &chords[i];
            return true;
        }
    }
    return false;
}

void HeldKeys::Take(const platform::EventRecord& event) {
    bool press = IsKeyDown(event);
    if (!press && !IsKeyUp(event))
        return;
    uint32_t key = event.paramL & 0xFF;
    bool ext = (event.paramH & 0x8000) != 0;
    bool right =
        key == 0x10 ? ((event.paramL >> 8) & 0xFF) == 0x36 : (key == 0x11 || key == 0x12) && ext;
    size_t slot = key + (right ? 256 : 0);
    down[slot] = press;
    pressed[slot] = event.paramL;
    extended[slot] = ext;
}

bool HeldKeys::NextRelease(platform::EventRecord* release) {
    for (size_t slot = 0; slot < kSlots; slot++) {
        if (!down[slot])
            continue;
        down.reset(slot);
        *release = {WM_KEYUP, pressed[slot], 1u | (extended[slot] ? 0x8000u : 0u), 0, 0};
        return true;
    }
    return false;
}

}  // namespace journal
