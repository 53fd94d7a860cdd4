// The notification service and the tray icon against the real shell of the test desktop.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/balloon_texts.h"
#include "journal/journal_recorder.h"
#include "platform/notify.h"
#include "platform/win32/notify_win32.h"
#include "tray/tray_icon.h"

namespace {

TEST(TrayWin32, ShellTakesTheIconAndTheTrayTicksOnItsTimer) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "TrayWin32Test";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, "TrayWin32Test", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                  windowClass.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    HICON icon = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));

    platform::NotifyIconRecord record;
    std::memset(&record, 0, sizeof(record));
    record.window = window;
    record.id = 7;
    record.flags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_INFO;
    record.callbackMessage = WM_TRAYNOTIFY;
    record.icon = icon;
    std::strcpy(record.tip, "Trenmoss v1.0");
    std::strcpy(record.infoTitle, "\xBE\xAF\xB8\xE6!");  // code page 936
    std::strcpy(record.info, "\xBF\xAA\xCA\xBC\xBC\xC7\xC2\xBC...\r...");
    record.timeout = 300;
    record.infoFlags = NIIF_INFO;
    EXPECT_EQ(platform::NotifyIcon(NIM_MODIFY, record), 0);  // not there yet
    EXPECT_NE(platform::NotifyIcon(NIM_ADD, record), 0);
    EXPECT_EQ(platform::NotifyIcon(NIM_ADD, record), 0);
    EXPECT_NE(platform::NotifyIcon(NIM_MODIFY, record), 0);
    EXPECT_NE(platform::NotifyIcon(NIM_DELETE, record), 0);
    EXPECT_EQ(platform::NotifyIcon(NIM_DELETE, record), 0);

    {
        TrayIcon tray(window, icon, nullptr);
        tray.SetMode(TrayMode::Steady);
        tray.ShowBalloon();
        EXPECT_EQ(tray.Tick(), 0);  // nothing changed: nothing is sent
        tray.SetTexts("Now is [Recording].", "", "", nullptr);
        EXPECT_NE(tray.Tick(), 0);  // a modify: the balloon's add reached the shell
        MSG message = {};
        DWORD deadline = GetTickCount() + 3000;
        while (message.wParam != TIMER_TRAY && GetTickCount() < deadline)
            if (!PeekMessageA(&message, window, WM_TIMER, WM_TIMER, PM_REMOVE))
                Sleep(10);
        EXPECT_EQ(message.wParam, static_cast<WPARAM>(TIMER_TRAY));
    }
    record.id = 1;  // the tray's own id: gone with the tray
    EXPECT_EQ(platform::NotifyIcon(NIM_MODIFY, record), 0);

    EXPECT_EQ(TrayIcon::ShellRestartMessage(), RegisterWindowMessageW(L"TaskbarCreated"));
    DestroyWindow(window);
}

// The texts the shell shows, as it is handed them: UTF-16 from their code page 936 bytes, whatever
// this system's own code page (the harness runs with a Western one).
TEST(TrayWin32, BalloonAndTooltipTextsReachTheShellAsTheirCharacters) {
    const struct {
        const char* title;
        const char* text;
        const wchar_t* wideTitle;
        const wchar_t* wideText;
    } balloons[] = {
        {kRecordingTitle, kRecordingText, L"警告!",
         L"开始记录...\r停止请按<Ctrl>-<Alt>-<Shift>-S\r..."},
        {kPlayingTitle, kPlayingText, L"消息!",
         L"开始重放...\r停止请按<Ctrl>-<Alt>-<Shift>-S\r..."},
        {kStoppedTitle, kStoppedText, L"通知!", L"停止记录或播放...\r..."},
    };
    JournalRecorder recorder(nullptr, nullptr, 7, "Quorvatellianis");
    for (const auto& balloon : balloons) {
        platform::NotifyIconRecord record;
        std::memset(&record, 0, sizeof(record));
        std::strcpy(record.infoTitle, balloon.title);
        std::strcpy(record.info, balloon.text);
        std::strcpy(record.tip, recorder.GetStatusText());
        NOTIFYICONDATAW data;
        platform::win32::ToShellRecord(record, &data);
        EXPECT_EQ(std::wstring(data.szInfoTitle), balloon.wideTitle);
        EXPECT_EQ(std::wstring(data.szInfo), balloon.wideText);
        EXPECT_EQ(std::wstring(data.szTip), L"Now is [Stoped][No Record].");
    }
}

}  // namespace
