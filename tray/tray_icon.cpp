#include "tray/tray_icon.h"

#include <cstddef>
#include <cstring>

#include "platform/notify.h"
#include "platform/window.h"

// One frame of the animation. The ring does not own the icon: whoever loaded it keeps it alive
// for longer than the ring.
struct IconRing {
    platform::IconHandle icon;
    IconRing* next;
};

namespace {

// Any value serves as long as it stays the same from the add to the delete.
const uint32_t kIconId = 1;
const uint32_t kTickMilliseconds = 300;
const uint32_t kBaseFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;

const char kInitialTip[] = "Trenmoss v1.0";
const char kWelcomeTitle[] = "Welcome to you!";
const char kWelcomeText[] =
    "Thank you for use Trenmoss v1.0!\r"
    "Hotkeys, each with Ctrl+Alt+Shift:\r"
    "R  record your keys and mouse\r"
    "P  play them back\r"
    "S  stop\r"
    "H  hide or show this icon\r"
    "Delete  open the menu\r"
    "Or click this icon for the menu.";
static_assert(sizeof(kWelcomeText) <= sizeof(platform::NotifyIconRecord::info),
              "the welcome text must fit the balloon");

// Copies a NUL-terminated text into a member of `capacity` bytes, cutting it to fit. A cut never
// splits a double-byte character of code page 936, whose lone lead byte would show as garbage.
void CopyText(char* member, size_t capacity, const char* text) {
    size_t length = 0;
    size_t i = 0;
    while (text[i] != 0) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        size_t width = (c >= 0x81 && c <= 0xFE && text[i + 1] != 0) ? 2 : 1;
        if (i + width > capacity - 1)
            break;
        i += width;
        length = i;
    }
    std::memcpy(member, text, length);
    member[length] = 0;
}

bool IsEmpty(const char* text) {
    return text == nullptr || text[0] == 0;
}

}  // namespace

TrayIcon::TrayIcon(platform::WindowHandle window, platform::IconHandle icon,
                   platform::IconHandle blink)
    : notifyData(new platform::NotifyIconRecord()),
      ring(nullptr),
      blinkIcon(blink),
      mode(TrayMode::Hidden),
      shown(false),
      sentKnown(false),
      sentIcon(nullptr),
      sentTip() {
    notifyData->window = window;
    notifyData->id = kIconId;
    notifyData->flags = kBaseFlags;
    notifyData->callbackMessage = WM_TRAYNOTIFY;
    notifyData->icon = icon;
    CopyText(notifyData->tip, sizeof(notifyData->tip), kInitialTip);
    CopyText(notifyData->info, sizeof(notifyData->info), kWelcomeText);
    notifyData->timeout = 1000;
    CopyText(notifyData->infoTitle, sizeof(notifyData->infoTitle), kWelcomeTitle);
    notifyData->infoFlags = NIIF_INFO;

    AddFrame(icon);
    platform::StartTimer(window, TIMER_TRAY, kTickMilliseconds);
}

TrayIcon::~TrayIcon() {
    Remove();
    ClearFrames();
    platform::StopTimer(notifyData->window, TIMER_TRAY);
    delete notifyData;
}

void TrayIcon::SetMode(TrayMode newMode) {
    mode = newMode;
}

bool TrayIcon::Tick() {
    switch (mode) {
        case TrayMode::Hidden:
            return Remove();
        case TrayMode::Steady:
            return ShowSteady();
        case TrayMode::Animating:
            if (ring == nullptr)
                return false;
            ring = ring->next;
            notifyData->icon = ring->icon;
            return Refresh();
        case TrayMode::Blinking:
            if (ring == nullptr)
                return false;
            notifyData->icon = notifyData->icon == blinkIcon ? ring->icon : blinkIcon;
            return Refresh();
        default:
            return false;
    }
}

void TrayIcon::SetTexts(const char* tip, const char* balloonText, const char* balloonTitle,
                        platform::IconHandle icon) {
    if (!IsEmpty(tip))
        CopyText(notifyData->tip, sizeof(notifyData->tip), tip);
    if (!IsEmpty(balloonText))
        CopyText(notifyData->info, sizeof(notifyData->info), balloonText);
    if (!IsEmpty(balloonTitle))
        CopyText(notifyData->infoTitle, sizeof(notifyData->infoTitle), balloonTitle);
    if (icon != nullptr)
        notifyData->icon = icon;
}

void TrayIcon::ShowBalloon() {
    // The balloon flag rides on one call only, or every later modify would pop it up again.
    notifyData->flags |= NIF_INFO;
    Refresh();
    notifyData->flags &= ~static_cast<uint32_t>(NIF_INFO);
}

void TrayIcon::ShowBalloonWith(const char* title, const char* text, uint32_t iconKind,
                               uint32_t timeout) {
    if (!IsEmpty(title))
        CopyText(notifyData->infoTitle, sizeof(notifyData->infoTitle), title);
    if (!IsEmpty(text))
        CopyText(notifyData->info, sizeof(notifyData->info), text);
    notifyData->infoFlags = iconKind;
    notifyData->timeout = timeout;
    ShowBalloon();
}

void TrayIcon::AddFrame(platform::IconHandle icon) {
    IconRing* node = new IconRing{icon, nullptr};
    if (ring == nullptr) {
        node->next = node;
        ring = node;
    } else {
        node->next = ring->next;
        ring->next = node;
    }
}

uint32_t TrayIcon::ShellRestartMessage() {
    return platform::ShellRestartMessage();
}

bool TrayIcon::OnShellRestart() {
    if (!shown)
        return false;
    bool result = Send(NIM_ADD);
    // The same broadcast also comes without a restart (a display change, for one); then the icon
    // is still there and the add is refused, and a modify keeps it up to date instead.
    if (!result)
        result = Send(NIM_MODIFY);
    return result;
}

bool TrayIcon::ShowSteady() {
    if (!shown) {
        shown = true;
        return Send(NIM_ADD);
    }
    if (notifyData->icon == blinkIcon && ring != nullptr)
        notifyData->icon = ring->icon;
    return Refresh();
}

bool TrayIcon::Refresh() {
    if (!shown)
        return ShowSteady();
    // The call is synchronous with the shell, which may be busy: a steady icon at rest costs
    // nothing, and a blinking or animated one one call per change.
    bool balloon = (notifyData->flags & NIF_INFO) != 0;
    if (!balloon && sentKnown && notifyData->icon == sentIcon &&
        std::strcmp(notifyData->tip, sentTip) == 0)
        return false;
    return Send(NIM_MODIFY);
}

bool TrayIcon::Remove() {
    if (!shown)
        return false;
    shown = false;
    return Send(NIM_DELETE);
}

void TrayIcon::ClearFrames() {
    if (ring == nullptr)
        return;
    IconRing* node = ring->next;
    ring->next = nullptr;  // open the ring behind the cursor, so the walk ends at the cursor
    while (node != nullptr) {
        IconRing* following = node->next;
        delete node;
        node = following;
    }
    ring = nullptr;
}

bool TrayIcon::Send(uint32_t action) {
    bool accepted = platform::NotifyIcon(action, *notifyData) != 0;
    if (action == NIM_DELETE)
        return accepted;
    // Only what the shell took is known to be on show; after a refusal the next tick sends
    // again whatever it shows.
    sentKnown = accepted;
    sentIcon = notifyData->icon;
    std::memcpy(sentTip, notifyData->tip, sizeof sentTip);
    return accepted;
}
