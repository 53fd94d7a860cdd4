// The program's icon in the notification area: tooltip, balloons, and a steady, animated or
// blinking face that tells what the journal is doing.
#pragma once

#include <cstdint>

#include "platform/types.h"

// The icon's callback message to the main window; lParam carries the mouse message.
#define WM_TRAYNOTIFY 0x800
// The animation tick on the main window.
#define TIMER_TRAY 0x800

struct IconRing;
namespace platform {
struct NotifyIconRecord;
}

class TrayIcon {
  public:
    TrayIcon(platform::WindowHandle window, platform::IconHandle icon,
             platform::IconHandle blinkIcon);
    virtual ~TrayIcon();

    // 0 hidden, 1 steady, 2 animate, 3 blink; applied by the next Tick.
    int32_t SetMode(uint32_t mode);
    int32_t Tick();
    // Empty texts and a null icon keep what was there; nothing reaches the screen before Tick.
    int32_t SetTexts(const char* tip, const char* balloonText, const char* balloonTitle,
                     platform::IconHandle icon);
    int32_t ShowBalloon();
    int32_t ShowBalloonWith(const char* title, const char* text, uint32_t iconKind,
                            uint32_t timeout);
    // A new frame goes right behind the current one, which stays current.
    int32_t AddFrame(platform::IconHandle icon);

    // The message the shell broadcasts when it has restarted and forgotten every icon.
    static uint32_t ShellRestartMessage();
    // Puts the icon back after a shell restart if it was on screen. Returns the call's result,
    // 0 when the icon was not shown.
    int32_t OnShellRestart();

  private:
    TrayIcon(const TrayIcon&) = delete;
    TrayIcon& operator=(const TrayIcon&) = delete;

    int32_t ShowSteady();
    int32_t Refresh();
    int32_t Remove();
    int32_t ClearFrames();
    int32_t Send(uint32_t action);

    platform::NotifyIconRecord* notifyData;  // sent whole with every call
    IconRing* ring;                          // the current frame; the ring has no head
    platform::IconHandle blinkIcon;
    uint32_t mode;
    int32_t shown;  // from the add that was sent to the delete that was sent
    // What the shell was last handed: a tick that would hand it the same again sends nothing.
    platform::IconHandle sentIcon;
    char sentTip[128];
};
