"""The probe (tests/probe/probe.cpp): its log of every input message, and the running probe."""

import os
import subprocess
import time

from .run import TestFailure, wait_until
from .processes import start_exe, stop, wine_path
from .desktop import focus, wait_window

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

    def wait_quiet(self, quiet=0.5, timeout=30.0):
        """Waits until the probe has logged nothing new for `quiet` s (a replay has ended);
        returns the messages."""
        seen = {"count": -1, "since": 0.0}

        def settled():
            count, now = len(self.events()), time.monotonic()
            if count != seen["count"]:
                seen["count"], seen["since"] = count, now
            return now - seen["since"] >= quiet
        wait_until(settled, timeout, what="the probe's input to settle")
        return self.events()

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


class GameProbe(Probe):
    """A running game_probe.exe (tests/probe/game_probe.cpp): a window that confines and hides
    the cursor and reads the mouse and keys through raw input only, as a game does. Take the
    64-bit build: Wine here keeps no confinement of a 32-bit program."""

    def totals(self, extra=None):
        """The relative raw motion added up so far, as (x, y); only the motion whose extra
        information is `extra` when given (Wine adds motion of its own: see wine-notes.md)."""
        moves = [e for e in self.events("motion") if extra is None or e.extra == extra]
        return sum(e.dx for e in moves), sum(e.dy for e in moves)

    def keys(self):
        """The raw keys so far, as (scan code, extended, released) in order."""
        return [(e.fields["scan"], bool(e.e0), bool(e.up)) for e in self.events("key")]


def start_probe(probe_exe, log_path, pos=(100, 100), size=(600, 400), title="Probe",
                timeout_s=None, wait=15.0, kind=Probe, more=()):
    """Starts probe.exe logging to log_path and waits for its ready line; returns a Probe.

    timeout_s makes the probe exit by itself, a guard for tests that might leave it behind; more
    are further options of the probe. With kind=GameProbe it starts game_probe.exe, whose
    options are the same."""
    args = ["--log", wine_path(log_path), "--pos", "%d,%d" % pos, "--size", "%dx%d" % size,
            "--title", title, *more]
    if timeout_s:
        args += ["--timeout", str(timeout_s)]
    for stale in (log_path, log_path + ".quit"):
        if os.path.exists(stale):
            os.remove(stale)
    proc = start_exe(probe_exe, *args)
    name = os.path.basename(probe_exe)

    def ready():
        if proc.poll() is not None:
            raise TestFailure("%s exited with %d before it was ready" % (name, proc.returncode))
        events = read_probe_log(log_path)
        return events[0] if events and events[0].kind == "ready" else None
    return kind(proc, log_path, title, wait_until(ready, wait, what="%s's ready line" % name))


def start_game_probe(game_probe_exe, log_path, pos=(200, 150), size=(400, 300),
                     title="Game probe", timeout_s=None, wait=15.0):
    """Starts game_probe.exe at pos, size (a fresh one may go elsewhere than the recorded one)
    and waits for its ready line; returns a GameProbe."""
    return start_probe(game_probe_exe, log_path, pos, size, title, timeout_s, wait, GameProbe)
