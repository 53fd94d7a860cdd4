"""Windows programs under wine: starting them as a user would, waiting for them, ending them."""

import os
import subprocess

from .run import TestFailure, check, scratch, wait_until

_started = []
# Where the standard error of each program started here goes: Wine writes the programs' debug
# channel there (a Win32 call that failed, and why), and main() shows it when a test fails.
_error_logs = []


def wine_path(path):
    """The Windows name (Z:\\...) of a Unix path, for arguments handed to Windows programs."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def start_exe(exe, *args, cwd=None, stdout=None, stderr=None):
    """Starts a Windows program under wine (it joins the harness's desktop); returns the Popen.

    Unix paths in args must be converted with wine_path() first. The process is stopped by
    cleanup() unless it ended before."""
    if not os.path.isfile(exe):
        raise TestFailure("no such program: %s" % exe)
    log = None
    if stderr is None:
        path = scratch("stderr-%d-%s.txt" % (len(_error_logs) + 1, os.path.basename(exe)))
        log = stderr = open(path, "wb")
        _error_logs.append(path)
    try:
        proc = subprocess.Popen(["wine", os.path.abspath(exe)] + [str(a) for a in args], cwd=cwd,
                                stdin=subprocess.DEVNULL, stdout=stdout, stderr=stderr)
    finally:
        if log:
            log.close()
    return track(proc)


def program_reports():
    """What the programs started here wrote to their standard error: their debug channel's reports
    of Win32 calls that failed, among anything else they said. Empty when they said nothing."""
    parts = []
    for path in _error_logs:
        try:
            with open(path, "rb") as f:
                text = f.read().decode("utf-8", "replace").strip()
        except OSError:
            continue
        if text:
            parts.append("-- %s\n%s" % (os.path.basename(path), text))
    return "\n".join(parts)


def wine_command(*args, timeout=30.0):
    """Runs one of Wine's own console programs (`taskkill`, `reg`, ...) to its end; returns its
    exit code and what it printed. Wine sometimes cannot create a process at all and says so
    ("Application could not be started"): nothing ran then, so the start is tried once more."""
    for attempt in (1, 2):
        done = subprocess.run(["wine"] + [str(a) for a in args], stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=timeout)
        text = done.stdout.decode("utf-8", "replace").strip()
        if attempt == 2 or "Application could not be started" not in text:
            return done.returncode, text


def track(proc):
    """Has cleanup() stop a process started otherwise than by start_exe."""
    _started.append(proc)
    return proc


def stop(proc, timeout=5.0):
    """Ends a process started here: TERM, then KILL after timeout s. Returns its exit code."""
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(timeout)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
    return proc.returncode


def cleanup():
    """Stops every process start_exe() started that is still running."""
    while _started:
        stop(_started.pop())


