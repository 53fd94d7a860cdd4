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
