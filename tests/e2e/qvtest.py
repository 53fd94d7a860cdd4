"""Helpers for end-to-end tests: Windows programs under Wine, driven with xdotool like a user.

Tests run inside tools/harness, which provides the display, the Wine prefix, the virtual desktop
and the sound server; these helpers only use what it exports. Standard library only.

A test script typically reads (a plain `python3 test_x.py --probe ...` re-runs itself inside the
harness when started outside one):

    import os, sys
    sys.dont_write_bytecode = True  # no __pycache__ in the source tree
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    import qvtest

    def test(args):
        probe = qvtest.start_probe(args.probe, qvtest.scratch("probe.log"))
        probe.focus()
        qvtest.type_text("hi")
        probe.wait_for(lambda e: e.kind == "WM_KEYUP" and e.vk == ord("I"))
        probe.quit()

    qvtest.main(test)
"""

import argparse
import collections
import os
import signal
import struct
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


_HARNESS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "harness")


def in_harness():
    return all(os.environ.get(v) for v in ("DISPLAY", "WINEPREFIX", "QV_HARNESS_DIR"))


def require_harness():
    """Outside tools/harness, runs this script again inside one (so that a plain `python3
    test_x.py`, or CTest started without the harness, works); fails when there is none."""
    if in_harness():
        return
    if os.access(_HARNESS, os.X_OK):
        sys.stdout.flush()
        sys.stderr.flush()
        os.execv(_HARNESS, [_HARNESS, "run", "--", sys.executable] + sys.argv)
    raise TestFailure("not inside the harness and %s is missing" % os.path.normpath(_HARNESS))


_scratch_dir = None


def scratch(name):
    """A path for a file that may vanish after the test: in the harness's scratch directory."""
    global _scratch_dir
    if _scratch_dir is None:
        base = os.environ.get("QV_HARNESS_DIR") or tempfile.gettempdir()
        _scratch_dir = tempfile.mkdtemp(prefix="e2e-", dir=base)
    return os.path.join(_scratch_dir, name)


def main(test, argv=None):
    """Runs test(args) inside the harness; prints PASS or FAIL and exits 0 or 1. Always cleans up."""
    name = os.path.basename(sys.argv[0])
    # SIGTERM (from CTest's time-out or the harness) should still run the clean-up below.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    code = 1
    try:
        require_harness()
        args = parse_args(argv)
        test(args)
        code = 0
        print("PASS %s" % name)
    except TestFailure as failure:
        print("FAIL %s: %s" % (name, failure), file=sys.stderr)
    except Exception:  # a broken test or helper: show where
        traceback.print_exc()
        print("FAIL %s: unexpected error" % name, file=sys.stderr)
    finally:
        cleanup()
    sys.exit(code)


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
        cleanup()
    return code


# ---- journal files --------------------------------------------------------------------------------

JOURNAL_SIGNATURE = b"Quorvatellianis\0"
Journal = collections.namedtuple("Journal", "count first last duration times")


def journal_bytes(events):
    """A journal file of (message, paramL, paramH, time) events."""
    first, last = events[0][3], events[-1][3]
    data = JOURNAL_SIGNATURE + struct.pack("<6I", 40, 20, len(events), first, last, last - first)
    for message, low, high, t in events:
        data += struct.pack("<5I", message, low, high, t, 0)
    return data


def write_journal(path, events):
    with open(path, "wb") as f:
        f.write(journal_bytes(events))


def read_journal(path):
    """Checks a journal file the program wrote (signature, a 40-byte header, 20-byte records, the
    duration) and returns its header's figures and the records' times as a Journal."""
    with open(path, "rb") as f:
        data = f.read()
    check(len(data) >= 40, "journal too short: %d bytes" % len(data))
    check(data[:16] == JOURNAL_SIGNATURE, "signature field %r" % data[:16])
    header_size, record_size, count, first, last, duration = struct.unpack("<6I", data[16:40])
    check((header_size, record_size) == (40, 20), "sizes %d/%d" % (header_size, record_size))
    check(len(data) == 40 + 20 * count, "%d bytes for %d records" % (len(data), count))
    check((last - first) & 0xFFFFFFFF == duration, "duration %d" % duration)
    times = [struct.unpack_from("<I", data, 40 + 20 * i + 12)[0] for i in range(count)]
    return Journal(count, first, last, duration, times)


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


# ---- processes ----------------------------------------------------------------------------------

_started = []


def wine_path(path):
    """The Windows name (Z:\\...) of a Unix path, for arguments handed to Windows programs."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def start_exe(exe, *args, cwd=None, stdout=None, stderr=None):
    """Starts a Windows program under wine (it joins the harness's desktop); returns the Popen.

    Unix paths in args must be converted with wine_path() first. The process is stopped by
    cleanup() unless it ended before."""
    if not os.path.isfile(exe):
        raise TestFailure("no such program: %s" % exe)
    proc = subprocess.Popen(["wine", os.path.abspath(exe)] + [str(a) for a in args], cwd=cwd,
                            stdin=subprocess.DEVNULL, stdout=stdout, stderr=stderr)
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


# ---- the X display ------------------------------------------------------------------------------

def xdotool(*args, timeout=10.0):
    """Runs xdotool with args; returns its output. Fails the test when xdotool fails."""
    cmd = ["xdotool"] + [str(a) for a in args]
    result = subprocess.run(cmd, capture_output=True, text=True, timeout=timeout)
    if result.returncode != 0:
        raise TestFailure("%s failed: %s" % (" ".join(cmd), result.stderr.strip()))
    return result.stdout


def find_windows(name):
    """Shown X windows whose title matches the regular expression name (empty list when none)."""
    # Wine may keep an unmapped twin of a window; focusing that one fails.
    result = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", name],
                            capture_output=True, text=True, timeout=10)
    return [int(w) for w in result.stdout.split()]


def wait_window(name, timeout=10.0):
    """Waits for an X window whose title matches the regular expression name; returns its id."""
    return wait_until(lambda: find_windows(name), timeout, what="a window named %r" % name)[0]


def desktop_window():
    """The X window of the harness's Wine virtual desktop."""
    return wait_window("^%s - Wine desktop$" % DESKTOP)


def focus(window):
    """Gives X focus to a window: with no window manager nothing else moves it, and Wine sends
    keys through the thread of the window that holds it."""
    xdotool("windowfocus", window)


def key(*keys, delay_ms=30):
    """Presses and releases each xdotool key combination in turn ("a", "ctrl+alt+shift+r", ...)."""
    xdotool("key", "--delay", delay_ms, *keys)


def key_down(k):
    xdotool("keydown", k)


def key_up(k):
    xdotool("keyup", k)


def type_text(text, delay_ms=30):
    """Types text as a user would, one key at a time (shift included for capitals)."""
    xdotool("type", "--delay", delay_ms, text)


def mouse_location():
    """The pointer's position on the display: (x, y)."""
    fields = dict(f.split(":") for f in xdotool("getmouselocation").split())
    return int(fields["x"]), int(fields["y"])


def mouse_move(x, y):
    """Moves the pointer to screen (= desktop) coordinates x, y."""
    # --sync waits for the pointer to move, which never happens when it is there already.
    if mouse_location() != (x, y):
        xdotool("mousemove", "--sync", x, y)


def click(button=1, x=None, y=None, repeat=1):
    """Clicks a button (1 left, 2 middle, 3 right), first moving to x, y when given."""
    if x is not None:
        mouse_move(x, y)
    xdotool("click", "--repeat", repeat, button)


def mouse_down(button=1):
    xdotool("mousedown", button)


def mouse_up(button=1):
    xdotool("mouseup", button)


def wheel(notches):
    """Turns the wheel: positive notches away from the user (up), negative towards."""
    xdotool("click", "--repeat", abs(notches), 4 if notches > 0 else 5)


def open_menu(at=(500, 400)):
    """Opens the program's menu with Ctrl+Alt+Shift+Delete at the given mouse position and gives
    X focus to the desktop, through which Wine passes keys to the menu."""
    mouse_move(*at)
    key("ctrl+alt+shift+Delete")
    time.sleep(1)
    focus(desktop_window())


def exit_from_menu(app, timeout=15.0, at=(500, 400)):
    """Chooses E&xit from the menu and returns the exit code. A busy machine may show the menu
    too late for the key: then the menu is opened again, as a user would."""
    deadline = time.monotonic() + timeout
    while True:
        open_menu(at)
        key("x")
        try:
            return app.wait(min(5.0, max(0.5, deadline - time.monotonic())))
        except subprocess.TimeoutExpired:
            if time.monotonic() >= deadline:
                raise TestFailure("Exit from the menu did not end the program")


def answer_file_dialog(title, path):
    """Types a full path into the open or save dialog of that title and confirms it; waits for
    the dialog to close."""
    dialog = wait_window("^%s$" % title, timeout=15)
    focus(dialog)
    # A click on its caption makes it the active window, as a user's would: the keys then reach
    # its file-name field also after another window of the program (its menu) took the foreground.
    geometry = dict(f.split("=") for f in xdotool("getwindowgeometry", "--shell", dialog).split())
    click(1, int(geometry["X"]) + 100, int(geometry["Y"]) + 8)
    time.sleep(0.3)
    type_text(wine_path(path), delay_ms=10)
    key("Return")
    wait_until(lambda: not find_windows("^%s$" % title), timeout=15,
               what="the %s dialog to close" % title)


def screenshot(path):
    """Saves the whole display as a PNG at path (directories created); returns path."""
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    subprocess.run(["import", "-window", "root", path], check=True, timeout=30,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return path


# ---- the probe's log ----------------------------------------------------------------------------

def _number(text):
    return int(text, 16) if text.startswith("0x") else int(text)


class ProbeEvent:
    """One log line: kind (ready, quit or a message name), t in microseconds, and its fields
    (numbers as int; rectangles as tuples)."""

    def __init__(self, kind, fields):
        self.kind = kind
        self.fields = fields

    def __getattr__(self, name):
        if name == "fields":
            raise AttributeError(name)
        try:
            return self.fields[name]
        except KeyError:
            raise AttributeError(name) from None

    # Keyboard messages
    @property
    def vk(self):
        return self.fields["wp"]

    @property
    def scan(self):
        return (self.fields["lp"] >> 16) & 0xFF

    @property
    def char(self):
        return chr(self.fields["wp"])

    # Mouse messages: lParam holds client coordinates (screen ones for the wheel and NC messages)
    @property
    def lp_point(self):
        lp = self.fields["lp"]
        signed = lambda v: v - 0x10000 if v & 0x8000 else v
        return signed(lp & 0xFFFF), signed((lp >> 16) & 0xFFFF)

    @property
    def wheel_delta(self):
        delta = (self.fields["wp"] >> 16) & 0xFFFF
        return delta - 0x10000 if delta & 0x8000 else delta

    def __repr__(self):
        return "%s %s" % (self.kind, " ".join("%s=%s" % kv for kv in self.fields.items()))


def parse_probe_line(line):
    """Parses one probe log line; None for a blank or partly written one."""
    words = line.split()
    if not words or not line.endswith("\n"):
        return None
    fields = {}
    for word in words[1:]:
        key_, _, value = word.partition("=")
        if "," in value:
            fields[key_] = tuple(_number(v) for v in value.split(","))
        else:
            fields[key_] = _number(value) if value[:1].isdigit() or value[:1] == "-" else value
    return ProbeEvent(words[0], fields)


def read_probe_log(path):
    """All complete lines of a probe log, parsed (empty list when the file is not there yet)."""
    try:
        with open(path, encoding="ascii", newline="") as f:
            lines = f.readlines()
    except FileNotFoundError:
        return []
    return [e for e in map(parse_probe_line, lines) if e is not None]


class Probe:
    """A running probe.exe: its process, log and window."""

    def __init__(self, proc, log_path, title, ready):
        self.proc = proc
        self.log_path = log_path
        self.title = title
        self.ready = ready

    @property
    def client(self):
        """Client rectangle in screen coordinates: (left, top, right, bottom)."""
        return self.ready.client

    def client_to_screen(self, x, y):
        return self.client[0] + x, self.client[1] + y

    def events(self, *kinds):
        """Logged messages so far (not the ready line), only of the given kinds when some are given."""
        events = [e for e in read_probe_log(self.log_path) if e.kind != "ready"]
        return [e for e in events if e.kind in kinds] if kinds else events

    def wait_for(self, predicate, timeout=10.0, what="a probe message"):
        """Waits until a logged message satisfies predicate; returns all messages logged so far."""
        def found():
            events = self.events()
            return events if any(predicate(e) for e in events) else None
        return wait_until(found, timeout, what=what)

    def x_window(self):
        return wait_window("^%s$" % self.title)

    def focus(self):
        """Gives the probe's window X focus, so that keys reach it."""
        focus(self.x_window())

    def quit(self, timeout=10.0):
        """Asks the probe to exit (through its quit file) and waits; returns the exit code."""
        open(self.log_path + ".quit", "w").close()
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            stop(self.proc)
            raise TestFailure("the probe did not exit within %.1f s of its quit file" % timeout)


def start_probe(probe_exe, log_path, pos=(100, 100), size=(600, 400), title="Probe",
                timeout_s=None, wait=15.0):
    """Starts probe.exe logging to log_path and waits for its ready line; returns a Probe.

    timeout_s makes the probe exit by itself, a guard for tests that might leave it behind."""
    args = ["--log", wine_path(log_path), "--pos", "%d,%d" % pos, "--size", "%dx%d" % size,
            "--title", title]
    if timeout_s:
        args += ["--timeout", str(timeout_s)]
    for stale in (log_path, log_path + ".quit"):
        if os.path.exists(stale):
            os.remove(stale)
    proc = start_exe(probe_exe, *args)

    def ready():
        if proc.poll() is not None:
            raise TestFailure("probe.exe exited with %d before it was ready" % proc.returncode)
        events = read_probe_log(log_path)
        return events[0] if events and events[0].kind == "ready" else None
    return Probe(proc, log_path, title, wait_until(ready, wait, what="the probe's ready line"))
