"""Running a test or a measurement: inside tools/harness, with a scratch folder, a clean-up of
whatever was started, and failures reported without a traceback."""

import argparse
import os
import signal
import subprocess
import sys
import tempfile
import time
import traceback

DESKTOP = os.environ.get("QV_DESKTOP", "qv")


class TestFailure(AssertionError):
    """A check failed; main() reports its message without a traceback."""


def check(condition, message):
    """Fails the test with message unless condition holds."""
    if not condition:
        raise TestFailure(message)


# ---- arguments, environment, running a test ---------------------------------------------------

def parse_args(argv=None, description=None):
    """Reads --exe, --probe and --tool (and --out); leaves any other argument alone, so CTest may
    add more."""
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("--exe", help="the program under test (quorvatellianis.exe)")
    parser.add_argument("--probe", help="probe.exe")
    parser.add_argument("--tool", help="the journal tool (qvjournal.exe)")
    parser.add_argument("--out", help="directory for screenshots and logs kept after the test")
    args, _unknown = parser.parse_known_args(argv)
    return args


def _cleanup():
    from .processes import cleanup  # the processes module builds on this one
    cleanup()


def _show_reports():
    """Shows what the tested programs reported on their debug channel, after a failure."""
    from .processes import program_reports
    text = program_reports()
    if text:
        print("what the programs reported (standard error, debug channel):\n%s" % text,
              file=sys.stderr)


_HARNESS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness")


def in_harness():
    return all(os.environ.get(v) for v in ("DISPLAY", "WINEPREFIX", "QV_HARNESS_DIR"))


def require_harness(monitors=None):
    """Outside tools/harness, runs this script again inside one (so that a plain `python3
    test_x.py`, or CTest started without the harness, works); fails when there is none. With
    monitors (a layout of `tools/harness run --monitors`), a harness without those monitors, such
    as the one that runs every Wine test, starts one with them."""
    if in_harness() and os.environ.get("QV_MONITORS") == monitors:
        return
    if os.access(_HARNESS, os.X_OK):
        sys.stdout.flush()
        sys.stderr.flush()
        options = ["--monitors", monitors] if monitors else []
        os.execv(_HARNESS, [_HARNESS, "run"] + options + ["--", sys.executable] + sys.argv)
    raise TestFailure("not inside the harness and %s is missing" % os.path.normpath(_HARNESS))


_scratch_dir = None


def scratch(name):
    """A path for a file that may vanish after the test: in the harness's scratch directory."""
    global _scratch_dir
    if _scratch_dir is None:
        base = os.environ.get("QV_HARNESS_DIR") or tempfile.gettempdir()
        _scratch_dir = tempfile.mkdtemp(prefix="e2e-", dir=base)
    return os.path.join(_scratch_dir, name)


def main(test, argv=None, monitors=None):
    """Runs test(args) inside the harness (with those monitors, when given: see
    require_harness); prints PASS or FAIL and exits 0 or 1. Always cleans up."""
    name = os.path.basename(sys.argv[0])
    # SIGTERM (from CTest's time-out or the harness) should still run the clean-up below.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    code = 1
    args = None
    try:
        require_harness(monitors)
        args = parse_args(argv)
        test(args)
        code = 0
        print("PASS %s" % name)
    except TestFailure as failure:
        print("FAIL %s: %s" % (name, failure), file=sys.stderr)
        if args is not None and args.out:
            _keep_screen(os.path.join(args.out, "failure.png"))
    except Exception:  # a broken test or helper: show where
        traceback.print_exc()
        print("FAIL %s: unexpected error" % name, file=sys.stderr)
    finally:
        _cleanup()
        if code:
            _show_reports()
    sys.exit(code)


def _keep_screen(path):
    """Keeps what the desktop showed when a test failed."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    subprocess.run(["import", "-window", "root", path], timeout=30)
    print("the screen is in %s" % path, file=sys.stderr)


def run_measurement(measure, args, what, harness=True):
    """Runs measure(args) for a benchmark, inside the harness unless `harness` is false. Returns
    the exit code: 0, or 1 after saying why `what` failed. Always cleans up."""
    code = 1
    try:
        if harness:
            require_harness()
        measure(args)
        code = 0
    except TestFailure as failure:
        print("%s failed: %s" % (what, failure), file=sys.stderr)
    finally:
        _cleanup()
    return code


# ---- waiting ------------------------------------------------------------------------------------

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


