"""Replays that games accept: a record run takes relative mouse motion into a game-like probe
(it confines and hides the cursor, puts it back at its centre after every motion and reads raw
input only); a play run replays it into a fresh one at another place and size, which must hear
the same turn, as relative motion, and the keys by their scan codes."""

import os
import shutil
import time

import qvtest

TAG = 0x51565042  # what the program's injected input carries (kPlaybackInputTag)
RECORDED = "game_probe.exe --log game.log --pos 200,150 --size 400x300 --timeout 120"
REPLAYED = "game_probe.exe --log game.log --pos 520,330 --size 300x220 --timeout 120"
STEPS = [(10, 4)] * 12 + [(-6, 3)] * 8  # a turn of (72, 72) counts


def log_events(work, kind):
    return [e for e in qvtest.read_probe_log(os.path.join(work, "game.log")) if e.kind == kind]


def test_a_turn_replays_as_motion(exe, game_probe_exe, work):
    shutil.copy(game_probe_exe, os.path.join(work, "game_probe.exe"))
    record = qvtest.start_run(exe, "-R", RECORDED, work)
    qvtest.wait_until(lambda: log_events(work, "confine"), timeout=20,
                      what="the game probe to take the mouse")
    time.sleep(1.5)
    for dx, dy in STEPS:
        qvtest.xdotool("mousemove_relative", "--", str(dx), str(dy))
        time.sleep(0.03)
    qvtest.key("w")
    time.sleep(0.5)
    qvtest.key("ctrl+alt+shift+Delete")
    qvtest.wait_exit(record, 20, "the record run", expect=0)
    heard = [e for e in log_events(work, "motion") if e.extra == 0]
    turned = (sum(e.dx for e in heard), sum(e.dy for e in heard))
    qvtest.quit_run_probe(work, "game.log")
    print("the recorded game heard %s in %d motions" % (turned, len(heard)))

    shutil.copy(os.path.join(work, RECORDED + "_"), os.path.join(work, REPLAYED + "_"))
    play = qvtest.start_run(exe, "-P", REPLAYED, work)
    qvtest.wait_exit(play, 60, "the play run", expect=0)
    time.sleep(0.5)
    ours = [e for e in log_events(work, "motion") if e.extra == TAG]
    absolute = [e for e in log_events(work, "absolute") if e.extra == TAG]
    keys = [(e.fields["scan"], e.up) for e in log_events(work, "key") if e.extra == TAG]
    qvtest.quit_run_probe(work, "game.log")
    replayed = (sum(e.dx for e in ours), sum(e.dy for e in ours))
    print("the replayed game heard %s in %d relative and %d absolute motions"
          % (replayed, len(ours), len(absolute)))
    for axis in (0, 1):
        assert abs(replayed[axis] - turned[axis]) <= 0.1 * abs(turned[axis]), (
            "recorded %s, replayed %s" % (turned, replayed))
    assert len(ours) >= 0.8 * (len(ours) + len(absolute)), "%d of the motions were absolute" % (
        len(absolute))
    assert (0x11, 0) in keys and (0x11, 1) in keys, "the W key's scan code: %s" % keys
