"""Ending the program as a user does, from a running state: Exit from the menu while recording
with the icon hidden and while playing (tray mode, sound on: the harness has a sound server),
a record run that ends at its one-minute limit, a record run closed by another program, and a
play run stopped midway with Ctrl+Alt+Shift+Delete. Every run exits with code 0; tray mode
leaves no file, the record run leaves exactly its journal, the play run leaves its journal as it
was."""

import os
import time

import pytest
import qvtest

COMMAND = "probe.exe --log run.log --pos 100,100 --timeout 150"
WM_MOUSEMOVE = 0x200


def exit_from_menu(app, what):
    """Ctrl+Alt+Shift+Delete opens the menu at the mouse, also with the icon hidden; E&xit."""
    code = qvtest.exit_from_menu(app)
    assert code == 0, "%s exited with %d" % (what, code)


def listing(folder):
    return sorted(os.listdir(folder))


def test_tray_exit_while_recording_hidden(exe, tmp_path_factory):
    work = str(tmp_path_factory.mktemp("tray"))
    app = qvtest.start_tray(exe, cwd=work)
    qvtest.key("ctrl+alt+shift+h")
    qvtest.key("ctrl+alt+shift+r")
    time.sleep(0.3)
    qvtest.mouse_move(300, 300)
    qvtest.mouse_move(320, 310)
    exit_from_menu(app, "Exit while recording with the icon hidden")
    assert listing(work) == [], "tray mode left files: %s" % listing(work)


def test_tray_exit_while_playing(exe, probe_exe, scratch, tmp_path_factory):
    work = str(tmp_path_factory.mktemp("tray"))
    app = qvtest.start_tray(exe, cwd=work)
    probe = qvtest.start_probe(probe_exe, scratch("tray.log"), timeout_s=120)
    probe.focus()
    qvtest.key("ctrl+alt+shift+r")
    time.sleep(0.3)
    qvtest.type_text("a")
    time.sleep(8)  # the playback waits as long before its next event
    qvtest.type_text("b")
    qvtest.key("ctrl+alt+shift+s")
    time.sleep(0.5)
    qvtest.key("ctrl+alt+shift+p")
    qvtest.wait_until(lambda: len(probe.events("WM_CHAR")) >= 2, timeout=10,
                      what="the playback to type its first letter")
    exit_from_menu(app, "Exit while playing")
    probe.quit()
    assert listing(work) == [], "tray mode left files: %s" % listing(work)


def test_record_run_ends_at_its_limit(exe, work):
    """A record run whose user does a little and then nothing ends a minute after its start, by
    itself, with what was done in that minute."""
    journal = os.path.join(work, COMMAND + "_")
    started = time.monotonic()
    run = qvtest.start_run(exe, "-R", COMMAND, work)
    qvtest.wait_until(lambda: os.path.exists(os.path.join(work, "run.log")), timeout=20,
                      what="the probe launched by the record run")
    time.sleep(2)  # the probe can be up before the run's hook is
    qvtest.mouse_move(400, 300)
    qvtest.mouse_move(420, 310)
    time.sleep(max(0.0, 55 - (time.monotonic() - started)))
    assert run.poll() is None, "the record run ended before its limit"
    qvtest.wait_exit(run, 15, "the idle record run at its limit", expect=0)
    print("the idle record run ended %.1f s after it was started" % (time.monotonic() - started))
    written = qvtest.read_journal(journal)
    assert written.count >= 2 and written.duration < 60000, (
        "%d events over %d ms" % (written.count, written.duration))
    qvtest.quit_run_probe(work)
    assert listing(work) == sorted(["probe.exe", "run.log", COMMAND + "_"]), (
        "the record run left %s" % listing(work))


def test_record_run_closed_from_outside(exe, work):
    """taskkill without /f sends WM_CLOSE to the program's windows, as a task manager does."""
    journal = os.path.join(work, COMMAND + "_")
    run = qvtest.start_run(exe, "-R", COMMAND, work)
    qvtest.wait_until(lambda: os.path.exists(os.path.join(work, "run.log")), timeout=20,
                      what="the probe launched by the record run")
    time.sleep(2)
    qvtest.mouse_move(400, 300)
    qvtest.mouse_move(420, 310)
    pid = qvtest.windows_pid(os.path.basename(exe))
    assert pid, "no %s among Wine's processes" % os.path.basename(exe)
    code, said = qvtest.wine_command("taskkill", "/pid", pid)
    assert code == 0, "taskkill exited with %d: %s" % (code, said)
    qvtest.wait_exit(run, 10, "the record run closed from outside", expect=0)
    written = qvtest.read_journal(journal)
    assert written.count >= 2, "the closed record run saved %d events" % written.count
    qvtest.quit_run_probe(work)
    assert listing(work) == sorted(["probe.exe", "run.log", COMMAND + "_"]), (
        "the closed record run left %s" % listing(work))


# Ctrl+Esc as the system ends a journal playback.
@pytest.mark.parametrize("keys, what", [("ctrl+alt+shift+Delete", "stopped midway"),
                                        ("ctrl+Escape", "cancelled with Ctrl+Esc")])
def test_play_run_ended_midway(exe, work, keys, what):
    """A play run in a long pause, ended by keys: it exits with 0 and leaves its journal."""
    journal = os.path.join(work, COMMAND + "_")
    data = qvtest.journal_bytes([(WM_MOUSEMOVE, 200, 200, 1000),
                                 (WM_MOUSEMOVE, 210, 210, 1100),
                                 (WM_MOUSEMOVE, 220, 220, 41100)])
    with open(journal, "wb") as f:
        f.write(data)
    run = qvtest.start_run(exe, "-P", COMMAND, work)
    time.sleep(4)
    assert run.poll() is None, "the play run ended before its 40-second pause"
    qvtest.key(keys)
    qvtest.wait_exit(run, 10, "the play run %s" % what, expect=0)
    with open(journal, "rb") as f:
        assert f.read() == data, "the play run changed its journal"
    qvtest.quit_run_probe(work)
    assert listing(work) == sorted(["probe.exe", "run.log", COMMAND + "_"]), (
        "the play run left %s" % listing(work))
