// The program's icon in the notification area: tooltip, balloons, and a steady, animated or
// blinking face that tells what the journal is doing.
#pragma once

#include <cstdint>

#include "platform/program_ids.h"
#include "platform/types.h"

struct IconRing;

// How the icon shows itself; the values are those of the mode argument.
enum class TrayMode : uint32_t {
    Hidden = 0,
    Steady = 1,
    Animating = 2,
    Blinking = 3,
};
namespace platform {
struct NotifyIconRecord;
}

class TrayIcon {
  public:
    TrayIcon(platform::WindowHandle window, platform::IconHandle icon,
             platform::IconHandle blinkIcon);
    virtual ~TrayIcon();

    // Applied by the next Tick.
    void SetMode(TrayMode mode);
    // True when a call went to the notification area and it took it.
    bool Tick();
    // Empty texts and a null icon keep what was there; nothing reaches the screen before Tick.
    void SetTexts(const char* tip, const char* balloonText, const char* balloonTitle,
                  platform::IconHandle icon);
    void ShowBalloon();
    void ShowBalloonWith(const char* title, const char* text, uint32_t iconKind, uint32_t timeout);
    // A new frame goes right behind the current one, which stays current.
    void AddFrame(platform::IconHandle icon);

    // The message the shell broadcasts when it has restarted and forgotten every icon.
    static uint32_t ShellRestartMessage();
    // Puts the icon back after a shell restart if it was on screen. True when the shell took
    // it; false also when the icon was not shown.
    bool OnShellRestart();

  private:
    TrayIcon(const TrayIcon&) = delete;
    TrayIcon& operator=(const TrayIcon&) = delete;

    bool ShowSteady();
    bool Refresh();
    bool Remove();
    void ClearFrames();
    bool Send(uint32_t action);

    platform::NotifyIconRecord* notifyData;  // sent whole with every call
    IconRing* ring;                          // the current frame; the ring has no head
    platform::IconHandle blinkIcon;
    TrayMode mode;
    bool shown;  // from the add that was sent to the delete that was sent
    // What the shell last accepted: a tick that would hand it the same again sends nothing.
    bool sentKnown;
    platform::IconHandle sentIcon;
    char sentTip[128];
};
