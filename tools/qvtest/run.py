"""Failures and waiting, shared by the tests and the benchmarks; the harness; and, for the scripts
that run without pytest (benchmarks, tools), a scratch folder and a run that cleans up."""

import os
import sys
import tempfile
import time


class TestFailure(AssertionError):
    """A check failed: the message says what."""


def check(condition, message):
    """Fails with message unless condition holds."""
    if not condition:
        raise TestFailure(message)


_HARNESS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness")


def in_harness(monitors=None):
    """True inside tools/harness, with those monitors (a layout of `tools/harness run
    --monitors`) or none."""
    return (all(os.environ.get(v) for v in ("DISPLAY", "WINEPREFIX", "QV_HARNESS_DIR"))
            and os.environ.get("QV_MONITORS") == monitors)


def require_harness(monitors=None, argv=None):
    """Outside tools/harness, runs argv (this script again, by default) inside one, so that a
    plain `python3 x.py`, or CTest started without the harness, works; fails when there is none.
    With monitors, a harness without those monitors, such as the one that runs every Wine test,
    starts one with them."""
    if in_harness(monitors):
        return
    if os.access(_HARNESS, os.X_OK):
        sys.stdout.flush()
        sys.stderr.flush()
        command = harness_command(monitors, argv or [sys.executable] + sys.argv)
        os.execv(command[0], command)
    raise TestFailure("not inside the harness and %s is missing" % os.path.normpath(_HARNESS))


def harness_command(monitors, argv):
    """The command that runs argv inside a harness of its own, with those monitors or none."""
    options = ["--monitors", monitors] if monitors else []
    return [_HARNESS, "run"] + options + ["--"] + argv


_scratch_dir = None


def scratch(name):
    """A path for a file that may vanish after the run: in the harness's scratch directory."""
    global _scratch_dir
    if _scratch_dir is None:
        base = os.environ.get("QV_HARNESS_DIR") or tempfile.gettempdir()
        _scratch_dir = tempfile.mkdtemp(prefix="qv-", dir=base)
    return os.path.join(_scratch_dir, name)


def run_measurement(measure, args, what, harness=True):
    """Runs measure(args) for a benchmark or a tool, inside the harness unless `harness` is false.
    Returns the exit code: 0, or 1 after saying why `what` failed and what the programs
    reported. Always cleans up."""
    from .processes import cleanup  # the processes module builds on this one
    code = 1
    try:
        if harness:
            require_harness()
        measure(args)
        code = 0
    except TestFailure as failure:
        print("%s failed: %s" % (what, failure), file=sys.stderr)
    finally:
        reports = cleanup()
    if code and reports:
        print("what the programs reported (standard error, debug channel):\n" + reports,
              file=sys.stderr)
    return code


def wait_until(predicate, timeout=10.0, interval=0.05, what="a condition"):
    """Polls predicate() until it returns something truthy, and returns that; fails after timeout s."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise TestFailure("timed out after %.1f s waiting for %s" % (timeout, what))
        time.sleep(interval)
