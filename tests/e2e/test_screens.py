"""A replayed click waits until the screen shows what it clicked: a record run clicks a target the
probe draws; play runs replay it into probes that draw it late, elsewhere in the window, or
never. The click lands on the target once it is drawn, at the same point of it, and every run ends
by itself (the last after the longest wait, at the recorded point)."""

import os
import shutil
import time

import qvtest

WHERE = "probe.exe --log run.log --pos 60,60 --timeout 120"
RECORDED = WHERE + " --target 100,100"


def clicks(log):
    return [(e.t, e.lp_point) for e in qvtest.read_probe_log(log) if e.kind == "WM_LBUTTONDOWN"]


def shown(log):
    return [e for e in qvtest.read_probe_log(log) if e.kind == "target"]


def play(exe, work, options):
    """Replays the recording into a probe started with `options`; returns its clicks and the
    target it drew (or None), and how long the run took."""
    command = WHERE + options
    shutil.copy(os.path.join(work, RECORDED + "_"), os.path.join(work, command + "_"))
    log = os.path.join(work, "run.log")
    started = time.monotonic()
    run = qvtest.start_run(exe, "-P", command, work)
    qvtest.wait_exit(run, 60, "the play run with%s" % options, expect=0)
    took = time.monotonic() - started
    qvtest.wait_until(lambda: clicks(log), timeout=10, what="the replayed click")
    result = clicks(log), (shown(log) or [None])[0]
    qvtest.quit_run_probe(work)
    return result, took


def test_a_click_waits_for_what_it_clicks(exe, work):
    log = os.path.join(work, "run.log")
    record = qvtest.start_run(exe, "-R", RECORDED, work)
    qvtest.wait_until(lambda: shown(log), timeout=20, what="the recorded probe's target")
    time.sleep(1.5)
    client = qvtest.read_probe_log(log)[0].client
    qvtest.click(1, client[0] + 148, client[1] + 116)  # the target's middle
    time.sleep(0.5)
    qvtest.key("ctrl+alt+shift+Delete")
    qvtest.wait_exit(record, 20, "the record run", expect=0)
    recorded = [point for _, point in clicks(log)]
    assert recorded == [(148, 116)], "recorded %s" % recorded
    qvtest.quit_run_probe(work)

    cases = [  # options, where the click must land, how late the target is drawn
        (" --target 100,100 --target-after 5000", (148, 116)),
        (" --target 300,200", (348, 216)),
        ("", (148, 116)),  # never drawn: the recorded point, after the longest wait
    ]
    for options, point in cases:
        (replayed, target), took = play(exe, work, options)
        print("with%s: clicked %s in a run of %.1f s" % (options or " no target", replayed, took))
        assert [p for _, p in replayed] == [point], "with%s: clicked %s" % (options, replayed)
        if target:
            assert replayed[0][0] > target.t, "with%s: clicked before the target showed" % options
        else:
            assert took > 10, "without its target the click waited only %.1f s" % took
