"""Automation runs: "-R" launches the probe and records typing into it until Ctrl+Alt+Shift+Delete,
saving the journal beside the command; "-P" launches it again, plays that journal into it and
exits by itself; "-P" without a journal idles until Ctrl+Alt+Shift+Delete, and then exits with the
code of a failed run."""

import os
import time

import qvtest

COMMAND = "probe.exe --log run.log --pos 100,100 --timeout 120"


def letters(log_path):
    return "".join(e.char for e in qvtest.read_probe_log(log_path) if e.kind == "WM_CHAR")


def check_journal(path):
    journal = qvtest.read_journal(path)
    times = journal.times
    assert times and times[0] == journal.first and times[-1] == journal.last, (
        "first/last times differ")
    return journal.count


def test_automation(exe, work):
    log = os.path.join(work, "run.log")
    journal = os.path.join(work, COMMAND + "_")

    record = qvtest.start_run(exe, "-R", COMMAND, work)
    qvtest.wait_until(lambda: os.path.exists(log) and "ready" in open(log).read(), timeout=20,
                      what="the probe launched by the record run")
    qvtest.mouse_move(400, 300)  # the run's first event: replayed at once, before the probe is up
    time.sleep(2)
    qvtest.focus(qvtest.wait_window("^Probe$"))
    qvtest.type_text("automation", delay_ms=60)
    time.sleep(0.3)
    qvtest.key("ctrl+alt+shift+Delete")
    qvtest.wait_exit(record, 20, "the record run", expect=0)
    assert letters(log) == "automation", "the probe saw %r" % letters(log)
    count = check_journal(journal)
    qvtest.quit_run_probe(work)
    print("recorded %d events" % count)

    play = qvtest.start_run(exe, "-P", COMMAND, work)
    qvtest.wait_exit(play, 60, "the play run", expect=0)
    assert letters(log) == "automation", "the replayed probe saw %r" % letters(log)
    qvtest.quit_run_probe(work)

    idle = qvtest.start_run(exe, "-P", "probe.exe --log idle.log --timeout 60", work)
    time.sleep(4)
    assert idle.poll() is None, "a play run without its journal ended by itself"
    qvtest.key("ctrl+alt+shift+Delete")
    qvtest.wait_exit(idle, 20, "the idle play run", expect=1)  # it played nothing
    qvtest.quit_run_probe(work, "idle.log")
