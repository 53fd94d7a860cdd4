"""The tray icon as a user sees it: there after start with the welcome balloon, rolling its eyes
while recording, blinking while playing, opening the menu on a click, hidden by Hide Me and
brought back by Ctrl+Alt+Shift+H. Screenshots go to --out when given."""

import os
import subprocess
import time

import qvtest

ICON = (989, 690)  # the icon's centre in the 1000x700 desktop's notification area
# "Hide Me" in the menu that a click on the icon opens (shifted left and up to fit the screen).
HIDE_ME = (870, 642)


def grab(area=qvtest.TRAY_ICON_EYE):
    """A fingerprint of the screen area WxH+X+Y."""
    result = subprocess.run(["import", "-window", "root", "-crop", area, "+repage", "-format",
                             "%#", "info:"], capture_output=True, text=True, timeout=30)
    return result.stdout.strip()


def samples(count, interval):
    seen = []
    for _ in range(count):
        seen.append(grab())
        time.sleep(interval)
    return seen


def test_tray(tray, probe_exe, scratch, out):
    shot = lambda name: qvtest.screenshot(os.path.join(out or scratch("shots"), name))
    time.sleep(2.5)  # the welcome balloon shows about 2 s after the call
    shot("tray-welcome.png")

    probe = qvtest.start_probe(probe_exe, scratch("probe.log"), timeout_s=120)
    probe.focus()
    qvtest.key("ctrl+alt+shift+r")
    qvtest.type_text("a")
    frames = samples(14, 0.12)
    shot("tray-recording.png")
    time.sleep(2.5)
    qvtest.type_text("b")  # playback lasts as long as this pause
    qvtest.key("ctrl+alt+shift+s")
    assert len(set(frames)) >= 3, (
        "the icon did not animate while recording: %d distinct images" % len(set(frames)))

    qvtest.key("ctrl+alt+shift+p")
    time.sleep(0.3)
    blinks = samples(10, 0.13)
    shot("tray-playing.png")
    assert len(set(blinks)) == 2, ("the icon did not blink while playing: %d distinct "
                                   "images" % len(set(blinks)))
    # One of the two is the empty blink frame.
    qvtest.wait_until(lambda: not qvtest.tray_icon_shown(), timeout=2, interval=0.05,
                      what="a blink")
    # Steady again, on whichever frame the animation stopped. The probe stays until then: a
    # replay waits for the window its keys were typed into.
    steady = qvtest.wait_until(lambda: len(set(samples(4, 0.2))) == 1 and grab(), timeout=10,
                               what="the icon to be steady again")
    probe.quit()
    assert qvtest.tray_icon_shown(), "the icon stayed blank after the playback"

    closed_area = grab("120x50+840+376")
    qvtest.show_menu(lambda: qvtest.click(1, *ICON))
    shot("tray-menu.png")
    # The menu opens above the icon, shifted left to fit: its first rows lie here.
    menu_area = "120x50+840+376"
    assert grab(menu_area) != closed_area, "a click on the icon opened no menu"
    qvtest.click(1, 300, 300)  # a click elsewhere closes it
    qvtest.wait_until(lambda: grab(menu_area) == closed_area, timeout=5,
                      what="the menu to close after a click elsewhere")

    qvtest.show_menu(lambda: qvtest.click(3, *ICON))
    qvtest.click(1, *HIDE_ME)
    qvtest.wait_until(lambda: not qvtest.tray_icon_shown(), timeout=5,
                      what="Hide Me to remove the icon")
    shot("tray-hidden.png")
    qvtest.key("ctrl+alt+shift+h")
    qvtest.wait_until(lambda: grab() == steady, timeout=5, what="Ctrl+Alt+Shift+H to bring it back")

    assert qvtest.exit_from_menu(tray) == 0, "the program exited with an error"
    qvtest.wait_until(lambda: not qvtest.tray_icon_shown(), timeout=5, what="the icon to go at exit")
