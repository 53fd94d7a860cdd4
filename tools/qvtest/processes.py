"""Windows programs under wine: starting them as a user would, waiting for them, ending them."""

import os
import subprocess
import tempfile

from .run import TestFailure

_started = []
# The standard error of each program started here, as (name, file): Wine writes the programs'
# debug channel there (a Win32 call that failed, and why), for cleanup() to hand to a failure.
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
    if stderr is None:
        stderr = tempfile.TemporaryFile()
        _error_logs.append(("%d %s" % (len(_error_logs) + 1, os.path.basename(exe)), stderr))
    proc = subprocess.Popen(["wine", os.path.abspath(exe)] + [str(a) for a in args], cwd=cwd,
                            stdin=subprocess.DEVNULL, stdout=stdout, stderr=stderr)
    return track(proc)


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


def windows_pid(image):
    """The Windows process id of the running program named image (quorvatellianis.exe), from
    winedbg's list; None when none runs. Wine's taskkill /im finds no 64-bit program by name,
    while /pid reaches either kind."""
    done = subprocess.run(["winedbg", "--command", "info proc"], stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=30)
    for line in done.stdout.decode("utf-8", "replace").splitlines():
        fields = line.replace("=", " ").split()
        if len(fields) >= 3 and fields[-1].strip("'").lower() == image.lower():
            return int(fields[0], 16)
    return None


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
    """Stops every process started here that is still running; returns, and forgets, what the
    programs wrote to their standard error: their debug channel's reports of Win32 calls that
    failed, among anything else they said (empty when they said nothing)."""
    while _started:
        stop(_started.pop())
    parts = []
    while _error_logs:
        name, log = _error_logs.pop(0)
        with log:
            log.seek(0)
            text = log.read().decode("utf-8", "replace").strip()
        if text:
            parts.append("-- %s\n%s" % (name, text))
    return "\n".join(parts)


