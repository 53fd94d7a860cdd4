"""Records typing and clicks into the probe with the hotkeys, replays them into a fresh probe and
compares what the probe saw (the user's own mouse and keys, meanwhile, must not mix in); then a second instance exits at once and Exit from the menu ends
the program with code 0."""

import os
import time

import qvtest

# A replayed gap may differ from the recorded one by this much on a loaded machine.
GAP_TOLERANCE_MS = 60

INPUT_KINDS = ("WM_KEYDOWN", "WM_KEYUP", "WM_LBUTTONDOWN", "WM_LBUTTONUP")
MODIFIERS = (0x10, 0x11, 0x12)  # Shift, Ctrl, Alt: pressed for the hotkeys themselves


def user_input(probe):
    """The letters and clicks the probe saw, without the hotkeys' own keys: (what, t in ms)."""
    seen = []
    for e in probe.events(*INPUT_KINDS):
        if e.kind.startswith("WM_KEY"):
            if e.vk in MODIFIERS or e.vk in (ord("R"), ord("S"), ord("P")):
                continue
            seen.append(((e.kind, e.vk), e.t / 1000.0))
        else:
            seen.append(((e.kind, e.lp_point), e.t / 1000.0))
    return seen


def test_record_play(exe, tray, probe_exe, scratch, out):
    qvtest.wait_exit(qvtest.start_exe(exe), 15, "a second instance", expect=0)

    probe = qvtest.start_probe(probe_exe, scratch("recorded.log"), timeout_s=120)
    probe.focus()
    qvtest.key("ctrl+alt+shift+r")
    time.sleep(0.5)
    qvtest.type_text("hello", delay_ms=80)
    qvtest.click(1, *probe.client_to_screen(100, 80))
    time.sleep(0.3)
    qvtest.type_text("abc", delay_ms=150)
    qvtest.click(1, *probe.client_to_screen(300, 200))
    time.sleep(0.2)
    qvtest.key("ctrl+alt+shift+s")
    probe.wait_quiet()
    recorded = user_input(probe)
    probe.quit()
    assert len(recorded) >= 20, "the probe saw too little while recording: %s" % recorded

    replay = qvtest.start_probe(probe_exe, scratch("replayed.log"), timeout_s=120)
    replay.focus()
    qvtest.key("ctrl+alt+shift+p")
    time.sleep(0.3)
    qvtest.mouse_move(*replay.client_to_screen(200, 150))  # a nudge, a key and a click
    qvtest.key("z")
    qvtest.click(1)
    last = recorded[-1][0]
    qvtest.wait_until(lambda: any(w == last for w, _ in user_input(replay)), timeout=30,
                      what="the replay of the last recorded event %s" % (last,))
    replay.wait_quiet()
    replayed = user_input(replay)
    assert [w for w, _ in replayed] == [w for w, _ in recorded], (
        "replayed input differs:\nrecorded %s\nreplayed %s"
        % ([w for w, _ in recorded], [w for w, _ in replayed]))
    worst = 0.0
    for i in range(1, len(recorded)):
        gap_recorded = recorded[i][1] - recorded[i - 1][1]
        gap_replayed = replayed[i][1] - replayed[i - 1][1]
        worst = max(worst, abs(gap_replayed - gap_recorded))
    assert worst <= GAP_TOLERANCE_MS, "a replayed gap is off by %.1f ms" % worst
    print("replayed %d events; worst gap error %.1f ms" % (len(replayed), worst))
    replay.quit()

    # Ctrl+Alt+Shift+Delete opens the menu at the mouse; E&xit ends the program.
    qvtest.open_menu()
    if out:
        qvtest.screenshot(os.path.join(out, "menu.png"))
    qvtest.key("Escape")
    code = qvtest.exit_from_menu(tray)
    assert code == 0, "the program exited with %d" % code
