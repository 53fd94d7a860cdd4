"""A playback that the user interrupts. The menu opened midway holds the replay: none of its keys
reach the menu (a replayed x would choose Exit) or the target while the menu is open, and when it
closes the replay goes on into the window it was typing into."""

import os
import shutil
import sys
import time

sys.dont_write_bytecode = True
import qvtest  # noqa: E402



def menu_holds_the_replay(args, work):
    app = qvtest.start_tray(args.exe, cwd=work)
    probe = qvtest.start_probe(args.probe, qvtest.scratch("recorded.log"), timeout_s=150)
    probe.focus()
    qvtest.key("ctrl+alt+shift+r")
    time.sleep(0.3)
    qvtest.type_text("ab")
    time.sleep(6)  # the menu opens during this pause of the replay
    qvtest.type_text("xit")
    qvtest.key("ctrl+alt+shift+s")
    probe.quit()

    replay = qvtest.start_probe(args.probe, qvtest.scratch("replayed.log"), timeout_s=150)
    replay.focus()
    qvtest.key("ctrl+alt+shift+p")
    typed = lambda: "".join(e.char for e in replay.events("WM_CHAR"))
    qvtest.wait_until(lambda: typed() == "ab", timeout=10,
                      what="the replay to type 'ab' (saw %r)" % typed())
    menu = qvtest.open_menu(qvtest.MENU_CORNER)
    time.sleep(6)  # 'xit' was due within this time
    qvtest.check(app.poll() is None, "a replayed key chose from the menu: the program ended")
    qvtest.check(typed() == "ab", "the replay went on while the menu was open: %r" % typed())
    qvtest.check(menu in qvtest.find_windows("^$"), "the replay closed the menu")
    qvtest.key("Escape")
    qvtest.wait_until(lambda: typed() == "abxit", timeout=10,
                      what="the replay to go on into its window (saw %r)" % typed())
    replay.wait_quiet()
    replay.quit()
    code = qvtest.exit_from_menu(app)
    qvtest.check(code == 0, "the program exited with %d" % code)


def test(args):
    for step in (menu_holds_the_replay,):
        work = qvtest.scratch(step.__name__)
        os.makedirs(work)
        shutil.copy(args.probe, os.path.join(work, "probe.exe"))
        print(step.__name__)
        step(args, work)


qvtest.main(test)
