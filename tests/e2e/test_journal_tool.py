"""The journal tool on a recording the program made: a word typed into the probe during a "-R"
run ended by its hotkey, repeated three times as it was and played back with "-P", reaches the
probe three times over: the recording holds no hotkey that would stop the replay early."""

import os
import subprocess
import time

import qvtest

COMMAND = "probe.exe --log run.log --pos 100,100 --timeout 120"
WORD = "abc"


def qvjournal(tool, *words, cwd):
    """Runs the Windows tool under Wine; returns what it printed."""
    result = subprocess.run(["wine", os.path.abspath(tool)] + list(words), cwd=cwd,
                            stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60)
    qvtest.check(result.returncode == 0, "qvjournal %s exited with %d: %s"
                 % (words[0], result.returncode, result.stderr.strip()))
    return result.stdout


def letters(log_path):
    return "".join(e.char for e in qvtest.read_probe_log(log_path) if e.kind == "WM_CHAR")


def test_a_repeated_recording_plays_whole(exe, tool, work):
    log = os.path.join(work, "run.log")
    journal = COMMAND + "_"

    record = qvtest.start_run(exe, "-R", COMMAND, work)
    qvtest.wait_until(lambda: os.path.exists(log) and "ready" in open(log).read(), timeout=20,
                      what="the probe launched by the record run")
    # The first event, replayed at once, before the probe is up: a move, wherever the pointer is.
    qvtest.mouse_move(401, 301)
    qvtest.mouse_move(400, 300)
    time.sleep(2)
    qvtest.focus(qvtest.wait_window("^Probe$"))
    qvtest.type_text(WORD, delay_ms=60)
    time.sleep(0.3)
    qvtest.key("ctrl+alt+shift+Delete")
    qvtest.wait_exit(record, 20, "the record run", expect=0)
    qvtest.quit_run_probe(work)

    qvjournal(tool, "repeat", "3", "--gap", "300", journal, "-o", "three.Jnf", cwd=work)
    os.replace(os.path.join(work, "three.Jnf"), os.path.join(work, journal))
    info = qvjournal(tool, "info", journal, cwd=work)
    print(info.strip())
    qvtest.check("hotkeys:" not in info, "the recording holds the program's hotkeys")

    play = qvtest.start_run(exe, "-P", COMMAND, work)
    qvtest.wait_exit(play, 60, "the play run", expect=0)
    qvtest.check(letters(log) == WORD * 3, "the probe saw %r" % letters(log))
    qvtest.quit_run_probe(work)


def test_names_in_any_script(tool, scratch):
    """A name outside the system's code page is opened, written and printed as given."""
    work = scratch("names")
    os.makedirs(work)
    qvtest.write_journal(os.path.join(work, "\u9332\u97f3\u03a9\u044f.jnf"),
                         [(0x100, 0x41, 0x1E, 1000), (0x101, 0x41, 0x1E, 1100)])
    printed = qvjournal(tool, "cut", "--from", "50", "\u9332\u97f3\u03a9\u044f.jnf", "-o",
                        "\u51fa\u529b.jnf", cwd=work)
    qvtest.check("wrote \u51fa\u529b.jnf:" in printed, "qvjournal printed %r" % printed)
    qvtest.check(os.path.exists(os.path.join(work, "\u51fa\u529b.jnf")), "no output written")
