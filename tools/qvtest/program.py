"""The program under test as a user starts and ends it: in the notification area, or in an
automation run launching a command."""

import os
import subprocess

from .run import TestFailure, check, wait_until
from .processes import start_exe
from .desktop import tray_icon_shown


def start_tray(exe, cwd=None, timeout=20.0):
    """Starts the program in tray mode and returns once its icon is in the notification area:
    by then its hotkeys are registered too."""
    app = start_exe(exe, cwd=cwd)
    wait_until(lambda: app.poll() is not None or tray_icon_shown(), timeout=timeout,
               what="the program's tray icon")
    check(app.poll() is None, "the program exited at start with %s" % app.poll())
    return app


def start_run(exe, switch, command, cwd):
    """Starts an automation run as a user types it: the switch ("-P", "-R", "-r") and the command
    text, which wine joins with blanks, unquoted."""
    words = command.split(" ")
    return start_exe(exe, switch + words[0], *words[1:], cwd=cwd)


def wait_exit(proc, seconds, what, expect=None):
    """Waits for the process to end; returns its exit code. Fails after `seconds`, and when the
    code is not `expect` (unless that is None)."""
    try:
        code = proc.wait(seconds)
    except subprocess.TimeoutExpired:
        raise TestFailure("%s did not end within %d s" % (what, seconds))
    check(expect is None or code == expect, "%s exited with %d" % (what, code))
    return code


def quit_run_probe(work, log="run.log"):
    """Asks the probe that an automation run launched in `work` to quit, and waits for it."""
    path = os.path.join(work, log)
    if os.path.exists(path):
        open(path + ".quit", "w").close()
        wait_until(lambda: "quit" in open(path).read(), timeout=10,
                   what="the probe of the run to quit")
        os.remove(path + ".quit")
