"""A playback that the user interrupts. The menu opened midway holds the replay: none of its keys
reach the menu (a replayed x would choose Exit) or the target while the menu is open, and when it
closes the replay goes on into the window it was typing into."""

import time

import qvtest


def test_menu_holds_the_replay(exe, probe_exe, scratch, work):
    app = qvtest.start_tray(exe, cwd=work)
    probe = qvtest.start_probe(probe_exe, scratch("recorded.log"), timeout_s=150)
    probe.focus()
    qvtest.key("ctrl+alt+shift+r")
    time.sleep(0.3)
    qvtest.type_text("ab")
    time.sleep(6)  # the menu opens during this pause of the replay
    qvtest.type_text("xit")
    qvtest.key("ctrl+alt+shift+s")
    probe.quit()

    replay = qvtest.start_probe(probe_exe, scratch("replayed.log"), timeout_s=150)
    replay.focus()
    qvtest.key("ctrl+alt+shift+p")
    typed = lambda: "".join(e.char for e in replay.events("WM_CHAR"))
    qvtest.wait_until(lambda: typed() == "ab", timeout=10,
                      what="the replay to type 'ab' (saw %r)" % typed())
    menu = qvtest.open_menu(qvtest.MENU_CORNER)
    time.sleep(6)  # 'xit' was due within this time
    assert app.poll() is None, "a replayed key chose from the menu: the program ended"
    assert typed() == "ab", "the replay went on while the menu was open: %r" % typed()
    assert menu in qvtest.find_windows("^$"), "the replay closed the menu"
    qvtest.key("Escape")
    qvtest.wait_until(lambda: typed() == "abxit", timeout=10,
                      what="the replay to go on into its window (saw %r)" % typed())
    replay.wait_quiet()
    replay.quit()
    code = qvtest.exit_from_menu(app)
    assert code == 0, "the program exited with %d" % code


def record_with_a_pause(probe_exe, scratch):
    """Records 'ab', a pause of six seconds, then 'xit' into a probe, and starts a fresh one."""
    probe = qvtest.start_probe(probe_exe, scratch("recorded.log"), timeout_s=150)
    probe.focus()
    qvtest.key("ctrl+alt+shift+r")
    time.sleep(0.3)
    qvtest.type_text("ab")
    time.sleep(6)
    qvtest.type_text("xit")
    qvtest.key("ctrl+alt+shift+s")
    probe.quit()
    replay = qvtest.start_probe(probe_exe, scratch("replayed.log"), timeout_s=150)
    replay.focus()
    return replay


def typed(probe):
    return "".join(e.char for e in probe.events("WM_CHAR"))


def play_until_paused(replay):
    qvtest.key("ctrl+alt+shift+p")
    qvtest.wait_until(lambda: typed(replay) == "ab", timeout=10,
                      what="the replay to type 'ab' (saw %r)" % typed(replay))


def test_the_menu_opened_in_the_configuration_dialog(exe, probe_exe, scratch, work):
    """The menu's hotkey in the Configuration dialog opened during a replay opens the menu;
    closing it leaves the replay held under the dialog, which would take its keys."""
    app = qvtest.start_tray(exe, cwd=work)
    replay = record_with_a_pause(probe_exe, scratch)
    play_until_paused(replay)
    dialog = open_configuration()
    menu = qvtest.show_menu(lambda: qvtest.key("ctrl+alt+shift+Delete"))
    qvtest.focus(menu)
    qvtest.key("Escape")
    qvtest.wait_until(lambda: menu not in qvtest.find_windows("^$"), timeout=10,
                      what="the menu to close")
    time.sleep(6)  # 'xit' was due within this time
    assert typed(replay) == "ab", "the replay went on under the dialog: %r" % typed(replay)
    qvtest.focus(dialog)
    qvtest.key("Escape")
    qvtest.wait_until(lambda: typed(replay) == "abxit", timeout=10,
                      what="the replay to go on into the probe (saw %r)" % typed(replay))
    replay.quit()
    assert qvtest.exit_from_menu(app) == 0


def open_configuration():
    """Configuration from the menu by keyboard, three items up from the bottom; returns its
    window, focused."""
    qvtest.open_menu(qvtest.MENU_CORNER)
    qvtest.key("Up", "Up", "Up", "Return")
    dialog = qvtest.wait_window("^Configuration$", timeout=10)
    qvtest.focus(dialog)
    time.sleep(0.3)
    return dialog


def test_configuration_during_a_playback(exe, probe_exe, scratch, work):
    """The dialog opened during a replay takes the user's keys: Repeat 3 and Enter close it and
    the replay goes on, its next passes included; Ctrl+Esc in the open dialog ends a replay."""
    app = qvtest.start_tray(exe, cwd=work)
    replay = record_with_a_pause(probe_exe, scratch)
    play_until_paused(replay)
    open_configuration()
    qvtest.key("3", "Return")
    qvtest.wait_until(lambda: not qvtest.find_windows("^Configuration$"), timeout=10,
                      what="the dialog to close on Enter")
    qvtest.wait_until(lambda: typed(replay) == "abxit" * 3, timeout=40,
                      what="the replay to go on for three passes (saw %r)" % typed(replay))

    replay.focus()
    qvtest.key("ctrl+alt+shift+p")
    qvtest.wait_until(lambda: len(typed(replay)) == 17, timeout=10, what="a second replay")
    open_configuration()
    qvtest.key("ctrl+Escape")
    time.sleep(0.5)
    qvtest.key("Escape")
    qvtest.wait_until(lambda: not qvtest.find_windows("^Configuration$"), timeout=10,
                      what="the dialog to close on Esc")
    time.sleep(7)
    assert typed(replay) == "abxit" * 3 + "ab", "the replay went on: %r" % typed(replay)
    replay.quit()
    assert qvtest.exit_from_menu(app) == 0
