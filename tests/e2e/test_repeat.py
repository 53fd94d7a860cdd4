"""Play as often as asked: Repeat set to 3 in the Configuration dialog, by keyboard only, makes
Play type a recording made with the hotkeys three times over."""

import os
import time

import qvtest

TEXT = "loop"


def typed(probe):
    return "".join(e.char for e in probe.events("WM_CHAR"))


def test_repeat(tray, probe_exe, scratch, out):
    probe = qvtest.start_probe(probe_exe, scratch("probe.log"), timeout_s=120)
    probe.focus()
    qvtest.key("ctrl+alt+shift+r")
    time.sleep(0.3)
    qvtest.type_text(TEXT, delay_ms=60)
    time.sleep(0.3)
    qvtest.key("ctrl+alt+shift+s")
    probe.wait_quiet()

    # The dialog opens with the Repeat field focused and its text selected: "3" replaces it,
    # Enter is OK.
    qvtest.open_menu()
    qvtest.key("c")
    dialog = qvtest.wait_window("^Configuration$", timeout=10)
    qvtest.focus(dialog)
    time.sleep(0.3)
    if out:
        qvtest.screenshot(os.path.join(out, "configuration.png"))
    qvtest.key("3", "Return")
    qvtest.wait_until(lambda: not qvtest.find_windows("^Configuration$"), timeout=10,
                      what="the dialog to close on Enter")

    # A click gives the probe the keyboard back from the program's closed dialog, as a user's
    # would; X focus alone leaves Wine's foreground with the program.
    qvtest.click(1, *probe.client_to_screen(20, 200))
    before = len(typed(probe))
    qvtest.key("ctrl+alt+shift+p")
    qvtest.wait_until(lambda: len(typed(probe)) >= before + 3 * len(TEXT), timeout=30,
                      what="three passes of %r" % TEXT)
    probe.wait_quiet()
    played = typed(probe)[before:]
    assert played == TEXT * 3, "Repeat 3 typed %r" % played
    probe.quit()
    code = qvtest.exit_from_menu(tray)
    assert code == 0, "the program exited with %d" % code
