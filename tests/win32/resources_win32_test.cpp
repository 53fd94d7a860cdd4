// The program's resources, compiled into this test too, as the real system reads them.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "platform/program_ids.h"
#include "tests/common/sequence.h"

namespace {

using Item = std::tuple<std::string, UINT, UINT>;  // text, command, state

TEST(ResourcesWin32Test, PopupMenuHoldsTheItemsInOrderWithTheirStates) {
    HMENU menu = LoadMenuA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINMENU));
    ASSERT_TRUE(menu);
    char title[64] = "";
    GetMenuStringA(menu, 0, title, sizeof title, MF_BYPOSITION);
    EXPECT_STREQ("&Quorvatellianis", title);
    HMENU popup = GetSubMenu(menu, 0);
    ASSERT_TRUE(popup);
    const testkit::Step<Item> kSeparator = {{"", 0, MF_SEPARATOR}};
    const std::vector<testkit::Step<Item>> expected = {
        {{"&Record\tCtr-Alt-Shf-R", IDM_RECORD, 0}},
        {{"S&ound", IDM_SOUND, MF_CHECKED | MF_GRAYED}},
        kSeparator,
        {{"&Play\tCtr-Alt-Shf-P", IDM_PLAY, 0}},
        kSeparator,
        {{"&Higher Speed", IDM_FASTER, 0}},
        {{"&Lower Speed", IDM_SLOWER, 0}},
        kSeparator,
        {{"&Normal Speed", IDM_NORMALSPEED, 0}},
        kSeparator,
        {{"S&top\tCtr-Alt-Shf--S", IDM_STOP, 0}},
        kSeparator,
        {{"&Save Record", IDM_SAVE, 0}},
        {{"&Load Record", IDM_LOAD, 0}},
        kSeparator,
        {{"&Empty Record", IDM_EMPTY, 0}},
        kSeparator,
        {{"&Configuration", IDM_CONFIG, 0}},
        kSeparator,
        {{"H&ide Me\tCtr-Alt-Shf-H", IDM_HIDE, 0}},
        kSeparator,
        {{"E&xit", IDM_EXIT, 0}},
    };
    std::vector<Item> seen;
    for (int i = 0; i < GetMenuItemCount(popup); i++) {
        char text[128] = "";
        UINT at = static_cast<UINT>(i);
        GetMenuStringA(popup, at, text, sizeof text, MF_BYPOSITION);
        UINT state = GetMenuState(popup, at, MF_BYPOSITION), separator = state & MF_SEPARATOR;
        // A separator reads as grayed too, and has no command.
        seen.push_back({text, separator ? 0 : GetMenuItemID(popup, i),
                        separator ? separator : state & (MF_CHECKED | MF_GRAYED)});
    }
    EXPECT_SEQUENCE(seen, expected);
    DestroyMenu(menu);
}

TEST(ResourcesWin32Test, NameAndIconsAreThere) {
    HINSTANCE module = GetModuleHandleA(nullptr);
    char name[100] = "";
    EXPECT_EQ(15, LoadStringA(module, IDS_APP_NAME, name, sizeof name));
    EXPECT_STREQ("Quorvatellianis", name);
    for (int id : {IDI_MAIN, IDI_BLANK, IDI_FRAME_RAISED, IDI_FRAME_RIGHT, IDI_FRAME_MIDDLE,
                   IDI_FRAME_LEFT}) {
        SCOPED_TRACE(id);
        for (int size : {16, 32}) {
            HANDLE icon = LoadImageA(module, MAKEINTRESOURCEA(id), IMAGE_ICON, size, size, 0);
            EXPECT_TRUE(icon);
            DestroyIcon(static_cast<HICON>(icon));
        }
    }
}

UINT commandSeen = 0;

LRESULT CALLBACK RecordCommands(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND)
        commandSeen = LOWORD(wParam);
    return DefWindowProcA(window, message, wParam, lParam);
}

void Press(WORD key, bool up) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyA(key, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &input, sizeof input);
}

TEST(ResourcesWin32Test, AltXTypedIntoTheFocusedWindowIsExit) {
    HINSTANCE module = GetModuleHandleA(nullptr);
    HACCEL table = LoadAcceleratorsA(module, MAKEINTRESOURCEA(IDR_ACCELERATORS));
    ASSERT_TRUE(table);
    ACCEL entries[4];
    ASSERT_EQ(1, CopyAcceleratorTableA(table, entries, 4));
    EXPECT_EQ(FALT | FNOINVERT, entries[0].fVirt);
    EXPECT_EQ('x', entries[0].key);
    EXPECT_EQ(IDM_EXIT, entries[0].cmd);

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = RecordCommands;
    windowClass.hInstance = module;
    windowClass.lpszClassName = "AcceleratorTarget";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, "AcceleratorTarget", "Accelerator target",
                                  WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50, 200, 100, nullptr,
                                  nullptr, module, nullptr);
    ASSERT_TRUE(window);
    SetForegroundWindow(window);
    SetFocus(window);
    Press(VK_MENU, false);
    Press('X', false);
    Press('X', true);
    Press(VK_MENU, true);
    DWORD deadline = GetTickCount() + 3000;
    MSG message;
    while (!commandSeen && GetTickCount() < deadline) {
        if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            Sleep(5);
            continue;
        }
        if (!TranslateAcceleratorA(message.hwnd, table, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    EXPECT_EQ(static_cast<UINT>(IDM_EXIT), commandSeen);
    DestroyWindow(window);
}

}  // namespace
