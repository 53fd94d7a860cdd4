// The program's dialogs for real, answered from a second thread as a user answers them: the save
// dialog with a name outside the system's code page, and what the Configuration dialog takes.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "platform/file.h"
#include "platform/program_ids.h"
#include "platform/window.h"

namespace {

using platform::kPauseField;
using platform::kRepeatField;
using platform::kWaitField;

struct Search {
    const wchar_t* title;
    HWND besides, found;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM context) {
    Search* s = reinterpret_cast<Search*>(context);
    wchar_t text[64] = L"", kind[16] = L"";
    GetWindowTextW(window, text, 64);
    GetClassNameW(window, kind, 16);
    if (window != s->besides && IsWindowVisible(window) && !wcscmp(kind, L"#32770") &&
        !wcscmp(text, s->title))
        s->found = window;
    return !s->found;
}

// The first shown dialog of `thread` with that title, other than `besides`; null after 10 s.
HWND WaitForDialog(DWORD thread, const wchar_t* title, HWND besides = nullptr) {
    Search search = {title, besides, nullptr};
    for (int tries = 0; tries < 500 && !search.found; ++tries) {
        EnumThreadWindows(thread, FindDialog, reinterpret_cast<LPARAM>(&search));
        if (!search.found)
            Sleep(20);
    }
    return search.found;
}

BOOL CALLBACK AddStaticText(HWND child, LPARAM context) {
    char text[512] = "", kind[16] = "";
    GetClassNameA(child, kind, sizeof kind);
    if (!lstrcmpiA(kind, "Static") && GetWindowTextA(child, text, sizeof text))
        *reinterpret_cast<std::string*>(context) += text;
    return TRUE;
}

BOOL CALLBACK FindEdit(HWND child, LPARAM context) {
    char kind[16] = "";
    GetClassNameA(child, kind, sizeof kind);
    if (lstrcmpiA(kind, "Edit"))
        return TRUE;
    *reinterpret_cast<HWND*>(context) = child;
    return FALSE;
}

// The words of a message box: its static texts, one after another.
std::string Words(HWND box) {
    std::string words;
    EnumChildWindows(box, AddStaticText, reinterpret_cast<LPARAM>(&words));
    return words;
}

TEST(DialogsWin32Test, TheSaveDialogGivesANameInAnyScript) {
    wchar_t folder[MAX_PATH];
    ASSERT_NE(GetTempPathW(MAX_PATH, folder), 0u);
    std::wstring path = std::wstring(folder) + L"\u9332\u97f3\u03a9\u044f.Jnf";  // 録音Ωя
    DeleteFileW(path.c_str());
    DWORD self = GetCurrentThreadId();
    std::thread user([self, path] {
        HWND dialog = WaitForDialog(self, L"Save As");
        if (!dialog)
            return;
        // The name field: an edit inside the combo boxes of the explorer-style dialog, or alone.
        HWND field = GetDlgItem(dialog, 0x480);
        EnumChildWindows(GetDlgItem(dialog, 0x47C), FindEdit, reinterpret_cast<LPARAM>(&field));
        SetWindowTextW(field, path.c_str());
        PostMessageW(dialog, WM_COMMAND, IDOK, 0);
        for (int i = 0; i < 250 && IsWindow(dialog); ++i)
            Sleep(20);
        if (IsWindow(dialog))  // never left open, whatever went wrong
            PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    char name[1024];
    platform::FileDialog(1, "Journal File(*.Jnf)\0*.Jnf\0", "Jnf", name, sizeof name);
    user.join();
    char expected[1024];
    WideCharToMultiByte(CP_UTF8, 0, path.c_str(), -1, expected, sizeof expected, nullptr, nullptr);
    EXPECT_STREQ(expected, name);
}

// A field takes a plain whole number in its range, or the number the dialog showed in it; anything
// else is refused with a message naming the range, and the dialog stays.
TEST(DialogsWin32Test, ConfigurationTakesOnlyWholeNumbersInRange) {
    const char kRepeatRange[] = "Repeat must be a whole number from 0 to 1000000.";
    const struct {
        int field;
        const char* text;  // null: left as shown
        const char* told;  // null: accepted
    } kCases[] = {
        {kRepeatField, "12", nullptr},
        {kRepeatField, "abc", kRepeatRange},
        {kRepeatField, "-5", kRepeatRange},
        {kRepeatField, "", kRepeatRange},
        {kWaitField, "100000",
         "Longest wait for a window must be a whole number from 0 to 3600 (seconds)."},
        {kPauseField, nullptr, nullptr},
        {kPauseField, "4000001",
         "Pause between repeats must be a whole number from 0 to 3600000 (milliseconds)."},
    };
    DWORD self = GetCurrentThreadId();
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.text ? c.text : "as shown");
        // A recording's own pause may be longer than the field's largest number.
        platform::PlaySettings settings = {1, 4000000, true, 10, false, false, 0};
        std::string told, range;
        std::thread user([&] {
            HWND dialog = WaitForDialog(self, L"Configuration");
            if (!dialog)
                return;
            char text[64] = "";
            GetDlgItemTextA(dialog, c.field + platform::kRangeOffset, text, sizeof text);
            range = text;
            if (c.text)
                SetDlgItemTextA(dialog, c.field, c.text);
            PostMessageW(dialog, WM_COMMAND, IDOK, 0);
            if (!c.told) {
                for (int i = 0; i < 250 && IsWindow(dialog); ++i)
                    Sleep(20);
                if (IsWindow(dialog))  // never left open, whatever went wrong
                    PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
                return;
            }
            HWND box = WaitForDialog(self, L"Configuration", dialog);
            told = box ? Words(box) : "no message";
            PostMessageW(box, WM_COMMAND, IDOK, 0);
            Sleep(100);
            PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        });
        bool accepted = platform::EditPlaySettings(GetModuleHandleW(nullptr), nullptr, IDD_CONFIG,
                                                   IDI_MAIN, &settings);
        user.join();
        EXPECT_EQ(!c.told, accepted);
        EXPECT_EQ(c.told ? c.told : "", told);
        EXPECT_EQ(c.field == kWaitField    ? "0 to 3600"
                  : c.field == kPauseField ? "0 to 3600000"
                                           : "0 to 1000000",
                  range);
        if (c.field == kRepeatField && !c.told) {
            // The number typed, taken.
            EXPECT_EQ(12u, settings.repeat);
        }
        EXPECT_EQ(4000000u, settings.pauseMs);
    }
}

}  // namespace
