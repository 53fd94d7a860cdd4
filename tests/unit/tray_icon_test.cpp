#include "tray/tray_icon.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/fake/fake_notify.h"
#include "platform/fake/fake_window.h"
#include "platform/notify.h"

namespace {

// Icons are opaque to the tray; numbering them after their resources keeps expectations legible.
platform::IconHandle Icon(uintptr_t id) {
    return reinterpret_cast<platform::IconHandle>(id);
}
uintptr_t IconOf(const fake::NotifyCall& call) {
    return reinterpret_cast<uintptr_t>(call.icon);
}

platform::WindowHandle const kWindow = reinterpret_cast<platform::WindowHandle>(0x5150);
const uint32_t kBase = NIF_MESSAGE | NIF_ICON | NIF_TIP;

class TrayIconTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fake::ResetNotify();
        fake::ResetWindows();
        tray.reset(new TrayIcon(kWindow, Icon(107), Icon(135)));
        for (uintptr_t frame : {138u, 107u, 139u, 140u, 141u, 140u, 139u})
            tray->AddFrame(Icon(frame));
    }

    // The icon each tick sends; a tick that does not send exactly one call fails the test.
    std::vector<uintptr_t> Ticks(int count) {
        std::vector<uintptr_t> icons;
        for (int i = 0; i < count; ++i) {
            size_t before = fake::NotifyCalls().size();
            EXPECT_EQ(tray->Tick(), 1);
            EXPECT_EQ(fake::NotifyCalls().size(), before + 1);
            icons.push_back(IconOf(fake::NotifyCalls().back()));
        }
        return icons;
    }
    std::vector<uint32_t> Actions() {
        std::vector<uint32_t> actions;
        for (const fake::NotifyCall& call : fake::NotifyCalls())
            actions.push_back(call.action);
        return actions;
    }

    std::unique_ptr<TrayIcon> tray;
};

TEST_F(TrayIconTest, StartUpAddsOnceWithTheWelcomeBalloonAndExitDeletes) {
    ASSERT_EQ(fake::Timers().size(), 1u);
    EXPECT_EQ(fake::Timers()[0].window, kWindow);
    EXPECT_EQ(fake::Timers()[0].id, static_cast<uintptr_t>(TIMER_TRAY));
    EXPECT_EQ(fake::Timers()[0].period, 300u);
    EXPECT_EQ(tray->Tick(), 0);  // hidden until a mode is set
    EXPECT_TRUE(fake::NotifyCalls().empty());

    tray->SetMode(TrayMode::Steady);
    tray->ShowBalloon();
    EXPECT_EQ(tray->Tick(), 0);  // a steady icon that changed nothing sends nothing
    tray->SetTexts("Now is [Recording].", "", "", nullptr);
    Ticks(1);
    EXPECT_EQ(tray->Tick(), 0);
    tray.reset();
    EXPECT_TRUE(fake::Timers().empty());
    EXPECT_EQ(Actions(), (std::vector<uint32_t>{NIM_ADD, NIM_MODIFY, NIM_DELETE}));
    EXPECT_EQ(fake::NotifyIconsShown(), 0);  // every call named the icon the add created

    const fake::NotifyCall& add = fake::NotifyCalls()[0];
    EXPECT_EQ(add.flags, kBase | NIF_INFO);
    EXPECT_EQ(add.callbackMessage, static_cast<uint32_t>(WM_TRAYNOTIFY));
    EXPECT_EQ(IconOf(add), 107u);
    EXPECT_EQ(add.tip, "Trenmoss v1.0");
    EXPECT_EQ(add.infoTitle, "Welcome to you!");
    EXPECT_EQ(add.info.substr(0, add.info.find('\r')), "Thank you for use Trenmoss v1.0!");
    EXPECT_EQ(add.timeout, 1000u);
    EXPECT_EQ(add.infoFlags, static_cast<uint32_t>(NIIF_INFO));
    EXPECT_EQ(fake::NotifyCalls()[1].flags, kBase);  // the balloon is not repeated
    EXPECT_EQ(fake::NotifyCalls()[1].tip, "Now is [Recording].");
}

TEST_F(TrayIconTest, AnimationRunsTheRingInInsertionOrderAndRepeats) {
    tray->SetMode(TrayMode::Animating);
    EXPECT_EQ(Ticks(9), (std::vector<uintptr_t>{139, 140, 141, 140, 139, 107, 138, 107, 139}));
}

TEST_F(TrayIconTest, ModeChangesTakeEffectAtTheNextTick) {
    tray->SetMode(TrayMode::Blinking);  // nothing animated yet: blinks with the constructor's frame
    EXPECT_EQ(Ticks(3), (std::vector<uintptr_t>{135, 107, 135}));
    tray->SetMode(TrayMode::Animating);
    EXPECT_EQ(Ticks(3), (std::vector<uintptr_t>{139, 140, 141}));
    tray->SetMode(TrayMode::Blinking);
    EXPECT_EQ(Ticks(3), (std::vector<uintptr_t>{135, 141, 135}));
    tray->SetMode(TrayMode::Steady);  // the blink icon was on show: the frame comes back
    EXPECT_EQ(Ticks(1), std::vector<uintptr_t>{141});

    tray->SetMode(TrayMode::Blinking);
    Ticks(1);
    tray->SetMode(TrayMode::Hidden);
    EXPECT_EQ(tray->Tick(), 1);
    EXPECT_EQ(tray->Tick(), 0);
    tray->SetMode(TrayMode::Steady);  // re-added as it was, blink icon and all, then repaired
    EXPECT_EQ(Ticks(2), (std::vector<uintptr_t>{135, 141}));
    tray->SetMode(static_cast<TrayMode>(4));
    EXPECT_EQ(tray->Tick(), 0);

    std::vector<uint32_t> actions = Actions();
    EXPECT_EQ(std::vector<uint32_t>(actions.end() - 4, actions.end()),
              (std::vector<uint32_t>{NIM_MODIFY, NIM_DELETE, NIM_ADD, NIM_MODIFY}));
}

// A busy shell may refuse a change; the icon must not stay wrong for good.
TEST_F(TrayIconTest, AChangeTheShellRefusedIsSentAgainAtTheNextTick) {
    tray->SetMode(TrayMode::Blinking);
    EXPECT_EQ(Ticks(3), (std::vector<uintptr_t>{135, 107, 135}));
    tray->SetMode(TrayMode::Steady);
    fake::FailNotifyCall(1);
    EXPECT_EQ(tray->Tick(), 0);  // the blank frame stays on show
    EXPECT_EQ(Ticks(1), std::vector<uintptr_t>{107});
    EXPECT_EQ(tray->Tick(), 0);  // accepted: nothing more to send
    EXPECT_EQ(fake::NotifyCalls().size(), 5u);
}

TEST_F(TrayIconTest, TextsAreKeptWhenEmptyAndCutToFit) {
    tray->ShowBalloonWith("", nullptr, NIIF_WARNING, 300);  // brings the icon up
    EXPECT_EQ(tray->Tick(), 1);                             // mode 0 deletes it
    EXPECT_EQ(Actions(), (std::vector<uint32_t>{NIM_ADD, NIM_DELETE}));
    EXPECT_EQ(fake::NotifyCalls()[0].infoTitle, "Welcome to you!");
    EXPECT_EQ(fake::NotifyCalls()[0].infoFlags, static_cast<uint32_t>(NIIF_WARNING));
    EXPECT_EQ(fake::NotifyCalls()[0].timeout, 300u);

    tray->SetMode(TrayMode::Steady);
    tray->SetTexts("", "", "", nullptr);
    Ticks(1);
    EXPECT_EQ(fake::NotifyCalls().back().tip, "Trenmoss v1.0");
    EXPECT_EQ(IconOf(fake::NotifyCalls().back()), 107u);

    // 40 characters of code page 936 ("警") are 80 bytes; the title keeps 31 of them (62 bytes),
    // as a 32nd would need the terminator's byte.
    std::string title;
    for (int i = 0; i < 40; ++i)
        title += "\xBE\xAF";
    tray->SetTexts(std::string(200, 't').c_str(), std::string(300, 'i').c_str(), title.c_str(),
                   Icon(140));
    Ticks(1);
    const fake::NotifyCall& call = fake::NotifyCalls().back();
    EXPECT_EQ(call.tip, std::string(127, 't'));
    EXPECT_EQ(call.info, std::string(255, 'i'));
    EXPECT_EQ(call.infoTitle, title.substr(0, 62));
    EXPECT_EQ(IconOf(call), 140u);
}

TEST_F(TrayIconTest, ShellRestartPutsTheIconBackOnlyIfItWasShown) {
    EXPECT_EQ(TrayIcon::ShellRestartMessage(), fake::kShellRestartMessage);
    EXPECT_EQ(tray->OnShellRestart(), 0);
    EXPECT_TRUE(fake::NotifyCalls().empty());

    tray->SetMode(TrayMode::Animating);
    tray->ShowBalloon();
    Ticks(2);
    fake::ForgetNotifyIcons();
    EXPECT_EQ(tray->Tick(), 0);  // the restarted shell does not know the icon
    EXPECT_EQ(tray->OnShellRestart(), 1);
    EXPECT_EQ(fake::NotifyCalls().back().action, static_cast<uint32_t>(NIM_ADD));
    EXPECT_EQ(fake::NotifyCalls().back().flags, kBase);  // no second welcome
    EXPECT_EQ(IconOf(fake::NotifyCalls().back()), 141u);
    EXPECT_EQ(Ticks(1), std::vector<uintptr_t>{140});

    // The same broadcast without a restart: the add is refused, a modify keeps the icon current.
    EXPECT_EQ(tray->OnShellRestart(), 1);
    EXPECT_EQ(fake::NotifyCalls().back().action, static_cast<uint32_t>(NIM_MODIFY));
    EXPECT_EQ(fake::NotifyIconsShown(), 1);
}

}  // namespace
