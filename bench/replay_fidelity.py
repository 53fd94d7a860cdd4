#!/usr/bin/env python3
"""Replay fidelity: plays a journal with known gaps into the probe and compares the gaps the probe
saw with the recorded ones, scaled by the speed.

    python3 bench/replay_fidelity.py --exe quorvatellianis.exe --probe probe.exe --out DIR
                   [--runs automation:16,automation-windows:16,automation-clicks:16,
                           automation-screens:16,tray:16,tray:8,tray:32]
                   [--write-journal PATH]

Runs inside tools/harness (re-runs itself inside one when started outside). An automation run
is a play run ("-P<command>", the journal beside it as "<command>_"), at speed 16;
automation-windows plays the same journal with a window table that puts every event in the
probe's window, so the replay looks the window up for each event (it is where it was
recorded, so no point moves) and the two runs tell what following windows costs.
automation-clicks turns every fifth pair of moves into a click on the probe, which shows a fixed
pattern; automation-screens plays that journal with a picture of the screen at every press, all
of which match, so the two runs tell what waiting for the screen costs a replay that never
waits. In tray mode
Higher Speed or Lower Speed is chosen from the menu (none for 16), the same journal is loaded
through Load Record's dialog and Ctrl+Alt+Shift+P plays it, so the program's own speed
arithmetic is what is measured (the journal's time stamps are never rescaled), with the tray
icon blinking on the main thread meanwhile.

Writes DIR/replay-MODE-SPEED.dat (one line per matched gap), DIR/probe-MODE-SPEED.log,
DIR/replay.json and DIR/replay.png, and prints per run:

    replay mode=tray speed=16 p50_ms=0.4 p99_ms=1.7 max_ms=3.1 drift_ms=0.2 matched=840/841 busy_pct=50 cpu_wait_pct=0.3
    replay-keys mode=tray speed=16 p50_ms=0.4 p99_ms=1.5 max_ms=2.9 matched=421/421

p50/p99/max are of |observed gap - recorded gap x speed/16| over consecutive matched messages
(replay-keys: consecutive keys only); drift is the offset from the scaled recorded timeline at
the end minus that at the start (medians of the last and first 21 messages), signed (positive:
the replay ran long). busy_pct and cpu_wait_pct tell how loaded the machine was meanwhile.

With --sink-exe, sink_timing.exe then plays the same time stamps through the playback sink with
no window involved, once injecting nothing and once injecting into the bare desktop ("sink" and
"sink-inject" lines)."""

import argparse
import json
import math
import os
import random
import shutil
import subprocess
import sys
import time

sys.dont_write_bytecode = True
import qvtest  # noqa: E402

WM_KEYDOWN, WM_KEYUP, WM_MOUSEMOVE = 0x100, 0x101, 0x200
WM_LBUTTONDOWN, WM_LBUTTONUP = 0x201, 0x202
BUTTONS = {WM_LBUTTONDOWN: "WM_LBUTTONDOWN", WM_LBUTTONUP: "WM_LBUTTONUP"}
GAPS_MS = (1, 5, 16, 50, 250, 1000)
# Gaps of one block, shuffled per block: short gaps dominate, as in real typing and dragging, so
# that the percentiles rest on many samples; each block spans 1495 ms.
BLOCK = (1,) * 6 + (5,) * 5 + (16,) * 4 + (50,) * 3 + (250,) + (1000,)
BLOCKS = 42  # 840 measured gaps, 62.8 s at the recorded pace
LEAD_IN_MS = 3000  # the automation run starts the probe meanwhile
FIRST_TIME = 200000
LETTERS = "qwertyuiopasdfghjklzxcvbnm"
SCANS = dict(zip("qwertyuiop", range(0x10, 0x1A)))
SCANS.update(zip("asdfghjkl", range(0x1E, 0x27)))
SCANS.update(zip("zxcvbnm", range(0x2C, 0x33)))
# Moves stay well inside the probe's client area (window at 100,100, 600x400) wherever it opens.
MOVE_BOX = (160, 180, 640, 460)
COMMAND = "probe.exe --log run.log --pos 100,100 --timeout 400"


# ---- the journal ---------------------------------------------------------------------------

def journal_events(seed=1, clicks=False):
    """The measured events: (message, paramL, paramH, time). The first one is the lead-in (a
    move outside the probe, played before the probe is up) and is not measured. With `clicks`
    every fifth pair of moves is a click instead: a press and, two events later, its release, at
    points 40 pixels apart at least, each used once."""
    rng = random.Random(seed)
    gaps = []
    for _ in range(BLOCKS):
        block = list(BLOCK)
        rng.shuffle(block)
        gaps += block
    events = [(WM_MOUSEMOVE, 900, 650, FIRST_TIME)]
    t = FIRST_TIME + LEAD_IN_MS
    x, y = 400, 300
    letter = 0
    spots = [(sx, sy) for sx in range(MOVE_BOX[0] + 20, MOVE_BOX[2] - 19, 40)
             for sy in range(MOVE_BOX[1] + 20, MOVE_BOX[3] - 19, 40)]
    rng.shuffle(spots)
    for i in range(len(gaps) + 1):
        phase = i % 4
        if clicks and phase in (1, 3) and (i // 4) % 5 == 0:
            if phase == 1:
                x, y = spots.pop()
            events.append((WM_LBUTTONDOWN if phase == 1 else WM_LBUTTONUP, x, y, t))
        elif phase in (0, 2):
            ch = LETTERS[letter % len(LETTERS)]
            vk = ord(ch.upper()) | SCANS[ch] << 8
            events.append((WM_KEYDOWN if phase == 0 else WM_KEYUP, vk, 1, t))
            if phase == 2:
                letter += 1
        else:
            # Every move goes somewhere new, so that no two are alike and none is dropped as a
            # move to where the pointer already is.
            while True:
                nx, ny = rng.randint(MOVE_BOX[0], MOVE_BOX[2]), rng.randint(MOVE_BOX[1], MOVE_BOX[3])
                if (nx, ny) != (x, y):
                    break
            x, y = nx, ny
            events.append((WM_MOUSEMOVE, x, y, t))
        if i < len(gaps):
            t += gaps[i]
    return events


# ---- matching and figures ------------------------------------------------------------------

LOOKAHEAD = 64
DRIFT_WINDOW = 21
KEY_KINDS = ("WM_KEYDOWN", "WM_KEYUP")
# Buttons are matched as keys are: in order, never merged.
ORDERED_KINDS = KEY_KINDS + tuple(BUTTONS.values())


def is_move(event):
    return event[0] == WM_MOUSEMOVE


def signature_of_record(event):
    message, param_l, param_h, _t = event
    if message == WM_MOUSEMOVE or message in BUTTONS:
        return (BUTTONS.get(message, "WM_MOUSEMOVE"), param_l, param_h)
    return ("WM_KEYDOWN" if message == WM_KEYDOWN else "WM_KEYUP", param_l & 0xFF)


def signature_of_probe(e):
    if e.kind == "WM_MOUSEMOVE" or e.kind in BUTTONS.values():
        return (e.kind, e.mx, e.my)
    return (e.kind, e.vk)


def _match_in_order(expected, observed):
    pairs = []
    position = 0
    for n, (i, event) in enumerate(expected):
        wanted = signature_of_record(event)
        following = signature_of_record(expected[n + 1][1]) if n + 1 < len(expected) else None
        for j in range(position, min(position + LOOKAHEAD, len(observed))):
            seen = signature_of_probe(observed[j])
            if seen == wanted:
                pairs.append((i, observed[j]))
                position = j + 1
                break
            if seen == following and following[0] == "WM_MOUSEMOVE":
                # The next move arrived first: this one was merged away, and its point showing up
                # later would be an echo of the pointer, not this move.
                break
    return pairs


def match(expected, observed):
    """Pairs expected events with the probe's messages: keys in order among the keys (the queue
    never merges or reorders them), moves by their point, in order among the moves. Under Wine
    the queue may merge a move into another (even into an echo of an earlier position coming
    back from the X pointer), and may hand a move over after a key injected a millisecond
    later; a move whose own message never came is left out. Returns [(expected index, probe
    event)] in the expected order."""
    keys = [(i, e) for i, e in enumerate(expected) if not is_move(e)]
    moves = [(i, e) for i, e in enumerate(expected) if is_move(e)]
    pairs = (_match_in_order(keys, [e for e in observed if e.kind in ORDERED_KINDS])
             + _match_in_order(moves, [e for e in observed if e.kind == "WM_MOUSEMOVE"]))
    return sorted(pairs, key=lambda pair: pair[0])


def median(values):
    ordered = sorted(values)
    middle = len(ordered) // 2
    return ordered[middle] if len(ordered) % 2 else (ordered[middle - 1] + ordered[middle]) / 2


def percentile(values, p):
    """Nearest-rank percentile of a non-empty list."""
    ordered = sorted(values)
    return ordered[max(0, math.ceil(p / 100.0 * len(ordered)) - 1)]


def _stats(values):
    magnitudes = [abs(v) for v in values]
    return {"p50_ms": percentile(magnitudes, 50), "p90_ms": percentile(magnitudes, 90),
            "p99_ms": percentile(magnitudes, 99), "max_ms": max(magnitudes),
            "mean_ms": sum(values) / len(values)}


def figures(expected, pairs, mode, speed):
    """Gap errors between consecutive matched messages, against the recorded gap x speed/16.

    The probe's message time (mt, the tick count when the input was injected, 1 ms steps) also
    gives the error of the injection alone, before Wine delivered the message."""
    scale = speed / 16.0
    first_index, first = pairs[0]
    rows = []
    for (a, ea), (b, eb) in zip(pairs, pairs[1:]):
        recorded = expected[b][3] - expected[a][3]
        observed = (eb.t - ea.t) / 1000.0
        rows.append({
            "t_s": (eb.t - first.t) / 1e6,
            "recorded_ms": recorded,
            "observed_ms": observed,
            "error_ms": observed - recorded * scale,
            "offset_ms": (eb.t - first.t) / 1000.0 - (expected[b][3] - expected[first_index][3]) * scale,
            "move": is_move(expected[a]) or is_move(expected[b]),
        })
    keys = [(i, e) for i, e in pairs if not is_move(expected[i])]
    key_errors = [(eb.t - ea.t) / 1000.0 - (expected[b][3] - expected[a][3]) * scale
                  for (a, ea), (b, eb) in zip(keys, keys[1:])]
    # A move's message time is that of the last move merged into it: only keys tell when the
    # input was injected.
    inject_errors = [(eb.mt - ea.mt) - (expected[b][3] - expected[a][3]) * scale
                     for (a, ea), (b, eb) in zip(keys, keys[1:])]
    by_gap = {}
    for r in rows:
        by_gap.setdefault(r["recorded_ms"], []).append(r["error_ms"])
    result = {
        "mode": mode,
        "speed": speed,
        "matched": len(pairs),
        "matched_keys": len(keys),
        "expected": len(expected),
        "expected_keys": sum(1 for e in expected if not is_move(e)),
        "gaps": len(rows),
        # The offset at the end against the offset at the start, each the median of the first
        # or last DRIFT_WINDOW messages, so that one late message does not pass for drift.
        "drift_ms": (median([r["offset_ms"] for r in rows[-DRIFT_WINDOW:]])
                     - median([0.0] + [r["offset_ms"] for r in rows[:DRIFT_WINDOW - 1]])),
        "span_s": rows[-1]["t_s"],
        "keys": _stats(key_errors),
        "inject": _stats(inject_errors),
        "by_recorded_gap": {str(g): dict(n=len(v), **_stats(v))
                            for g, v in sorted(by_gap.items()) if g in GAPS_MS},
        "rows": rows,
    }
    result.update(_stats([r["error_ms"] for r in rows]))
    return result


def summary_lines(f):
    return [
        "replay mode=%s speed=%d p50_ms=%.2f p99_ms=%.2f max_ms=%.2f drift_ms=%.2f "
        "matched=%d/%d busy_pct=%.0f cpu_wait_pct=%.1f"
        % (f["mode"], f["speed"], f["p50_ms"], f["p99_ms"], f["max_ms"], f["drift_ms"],
           f["matched"], f["expected"], f["busy_pct"], f["cpu_wait_pct"]),
        "replay-keys mode=%s speed=%d p50_ms=%.2f p99_ms=%.2f max_ms=%.2f matched=%d/%d"
        % (f["mode"], f["speed"], f["keys"]["p50_ms"], f["keys"]["p99_ms"], f["keys"]["max_ms"],
           f["matched_keys"], f["expected_keys"]),
    ]


def load_sample():
    """The machine's CPU time so far, busy and total (jiffies, /proc/stat), and how long runnable
    tasks have waited for a CPU (microseconds, /proc/pressure/cpu, when the kernel has it)."""
    with open("/proc/stat") as f:
        values = [int(v) for v in f.readline().split()[1:]]
    idle = values[3] + values[4]  # idle, iowait
    waited = None
    try:
        with open("/proc/pressure/cpu") as f:
            waited = int(f.readline().split("total=")[1])
    except (OSError, IndexError, ValueError):
        pass
    return sum(values) - idle, sum(values), waited, time.monotonic()


def load_since(start):
    """busy_pct: share of all CPUs busy since `start` (everything, this benchmark included);
    cpu_wait_pct: share of the time some runnable task was kept waiting for a CPU, which is
    what turns into late wake-ups."""
    now = load_sample()
    result = {"busy_pct": 100.0 * (now[0] - start[0]) / max(1, now[1] - start[1]),
              "cpu_wait_pct": float("nan")}
    if start[2] is not None and now[2] is not None:
        result["cpu_wait_pct"] = (now[2] - start[2]) / 1e4 / max(1e-9, now[3] - start[3])
    return result


def sink_figures(log_path, events):
    """Figures of sink_timing.exe's log: gap errors between the moments the sink released
    consecutive events, against the delays it was handed (the recorded gaps), its lateness at
    the end, and how long handling a key and a move (their injection, when there is one) took."""
    rows = []
    with open(log_path) as f:
        for line in f:
            _index, scheduled, released, handling = line.split()
            rows.append((int(scheduled), float(released) / 1000.0, float(handling) / 1000.0))
    errors = [(b[1] - a[1]) - (b[0] - a[0]) for a, b in zip(rows, rows[1:])]
    result = _stats(errors)
    offsets = [(r[1] - rows[0][1]) - (r[0] - rows[0][0]) for r in rows]
    result["drift_ms"] = median(offsets[-DRIFT_WINDOW:]) - median(offsets[:DRIFT_WINDOW])
    result["gaps"] = len(errors)
    # The first event is left out: the first injection of a run also sets up the display.
    result["handling_keys"] = _stats([r[2] for r, e in zip(rows[1:], events[1:]) if not is_move(e)])
    result["handling_moves"] = _stats([r[2] for r, e in zip(rows[1:], events[1:]) if is_move(e)])
    return result


def sink_line(name, result):
    return ("%s speed=16 p50_ms=%.2f p90_ms=%.2f p99_ms=%.2f max_ms=%.2f drift_ms=%.2f "
            "inject_key_p50_ms=%.2f inject_move_p50_ms=%.2f inject_move_p99_ms=%.2f busy_pct=%.0f "
            "cpu_wait_pct=%.1f"
            % (name, result["p50_ms"], result["p90_ms"], result["p99_ms"], result["max_ms"],
               result["drift_ms"],
               result["handling_keys"]["p50_ms"], result["handling_moves"]["p50_ms"],
               result["handling_moves"]["p99_ms"], result["busy_pct"], result["cpu_wait_pct"]))


def run_sink(sink_exe, events, out, inject):
    """Runs sink_timing.exe on the journal's time stamps and returns its figures."""
    name = "sink-inject" if inject else "sink"
    journal = os.path.join(out, name + ".jnf")
    log = os.path.join(out, name + ".log")
    qvtest.write_journal(journal, events)
    start = load_sample()
    run = qvtest.start_exe(sink_exe, qvtest.wine_path(journal), qvtest.wine_path(log),
                           *(["--inject"] if inject else []))
    code = run.wait((events[-1][3] - events[0][3]) / 1000.0 + 60)
    qvtest.check(code == 0, "sink_timing.exe exited with %d" % code)
    os.remove(journal)
    result = sink_figures(log, events)
    result.update(load_since(start))
    result["name"] = name
    print(sink_line(name, result), flush=True)
    return result


def plot(out, results):
    """Error per gap and the running offset against time, one colour per speed."""
    if not shutil.which("gnuplot"):
        print("gnuplot missing: no plot", file=sys.stderr)
        return
    series = [(os.path.join(out, "replay-%s.dat" % run_name(f)), "%s %d" % (f["mode"], f["speed"]))
              for f in results]
    terminals = subprocess.run(["gnuplot", "-e", "set terminal"], capture_output=True,
                               text=True).stdout
    script = [
        "set terminal %s size 1200,900" % ("pngcairo" if "pngcairo" in terminals else "png"),
        "set output '%s'" % os.path.join(out, "replay.png"),
        "set multiplot layout 2,1",
        "set grid",
        "set key outside right",
        "set title 'Gap error: observed gap - recorded gap x speed/16'",
        "set xlabel 'time since the first matched message (s)'",
        "set ylabel 'error (ms)'",
        "plot " + ", ".join("'%s' using 1:4 with points pt 7 ps 0.4 title '%s'" % s
                            for s in series),
        "set title 'Offset from the scaled recorded timeline (cumulative drift)'",
        "set ylabel 'offset (ms)'",
        "plot " + ", ".join("'%s' using 1:5 with lines lw 2 title '%s'" % s
                            for s in series),
        "unset multiplot",
    ]
    subprocess.run(["gnuplot"], input="\n".join(script), text=True, check=True)


def run_name(f):
    return "%s-%d" % (f["mode"], f["speed"])


def write_data(out, f):
    with open(os.path.join(out, "replay-%s.dat" % run_name(f)), "w") as data:
        data.write("# t_s recorded_ms observed_ms error_ms offset_ms move\n")
        for r in f["rows"]:
            data.write("%.6f %d %.3f %.3f %.3f %d\n"
                       % (r["t_s"], r["recorded_ms"], r["observed_ms"], r["error_ms"],
                          r["offset_ms"], r["move"]))


# ---- driving the program -------------------------------------------------------------------

def screen_pictures(probe_exe, events, work):
    """Pictures of every press, as a recording would take them: the probe, showing its pattern
    where the play run will open it, taken from the screen around each press."""
    probe = qvtest.start_probe(probe_exe, os.path.join(work, "pictures.log"), pos=(100, 100),
                               timeout_s=60, more=("--pattern", "on"))
    time.sleep(1)
    width, height = (int(v) for v in os.environ.get("QV_DESKTOP_SIZE", "1000x700").split("x"))
    screen = subprocess.run(["import", "-window", "root", "-depth", "8", "rgb:-"],
                            capture_output=True, check=True, timeout=30).stdout
    probe.quit()
    qvtest.check(len(screen) == width * height * 3, "a screen of %d bytes" % len(screen))
    pictures = []
    for index, (message, x, y, _t) in enumerate(events):
        if message == WM_LBUTTONDOWN:
            rows = [screen[((y - 16 + r) * width + x - 16) * 3:((y - 16 + r) * width + x + 16) * 3]
                    for r in range(32)]
            pictures.append((index, b"".join(rows), 96))
    return qvtest.pictures_section(pictures)


def play_automation(exe, probe_exe, events, work, windows=False, screens=False):
    """Speed 16: `-P<command>` starts the probe and plays "<command>_" into it, then exits.
    With `windows` the journal says that every event after the lead-in belongs to the probe's
    window, where it opens: the replay looks the window up and places each event in it. With
    clicks in the journal the probe shows its pattern; with `screens` every press has its picture,
    which the replay finds where the press goes before it presses."""
    os.makedirs(work)
    shutil.copy(probe_exe, os.path.join(work, "probe.exe"))
    table = None
    if windows:
        table = [("probe.exe", "QvProbe", "Probe", (100, 100, 700, 500), 96)]
        events = events[:1] + [tuple(e) + (0, 1) for e in events[1:]]
    clicks = any(e[0] == WM_LBUTTONDOWN for e in events)
    command = COMMAND + (" --pattern on" if clicks else "")
    extra = screen_pictures(probe_exe, events, work) if screens else b""
    qvtest.write_journal(os.path.join(work, command + "_"), events, table, extra)
    log = os.path.join(work, "run.log")
    run = qvtest.start_run(exe, "-P", command, work)
    duration = (events[-1][3] - events[0][3]) / 1000.0
    try:
        code = run.wait(duration + 60)
    except subprocess.TimeoutExpired:
        raise qvtest.TestFailure("the play run did not end")
    qvtest.check(code == 0, "the play run exited with %d" % code)
    time.sleep(0.5)
    observed = qvtest.read_probe_log(log)
    name = os.path.basename(work)[len("work-"):]
    shutil.copy(log, os.path.join(work, "..", "probe-%s.log" % name))
    open(log + ".quit", "w").close()
    qvtest.wait_until(lambda: "quit" in open(log).read(), timeout=10, what="the probe to quit")
    return observed


def play_tray(exe, probe_exe, events, speed, work):
    """Other speeds: Higher/Lower Speed from the menu, Load Record, then Ctrl+Alt+Shift+P."""
    steps = {8: ["h"], 16: [], 32: ["Down"] * 5 + ["Return"]}
    qvtest.check(speed in steps, "speed %d cannot be set from the menu in one step" % speed)
    os.makedirs(work)
    journal = os.path.join(work, "bench.jnf")
    qvtest.write_journal(journal, events)
    app = qvtest.start_tray(exe)
    if steps[speed]:
        qvtest.open_menu(qvtest.MENU_CORNER)
        qvtest.key(*steps[speed])  # "&Lower Speed" shares L with "&Load Record"
        time.sleep(0.5)
    qvtest.open_menu(qvtest.MENU_CORNER)
    qvtest.key(*(["Down"] * 9), "Return")  # &Load Record
    qvtest.answer_file_dialog("Open", journal)

    probe = qvtest.start_probe(probe_exe, os.path.join(work, "probe.log"), timeout_s=400)
    probe.focus()
    time.sleep(0.5)
    qvtest.key("ctrl+alt+shift+p")
    duration = (events[-1][3] - events[0][3]) / 1000.0 * speed / 16.0
    # The hotkey's own keys reach the probe before the lead-in is over; keys are never merged,
    # so the replay is over once as many more arrived as the journal holds.
    time.sleep(LEAD_IN_MS / 2000.0 * speed / 16.0)
    before = len(probe.events(*KEY_KINDS))
    keys = sum(1 for e in events if not is_move(e))
    qvtest.wait_until(lambda: len(probe.events(*KEY_KINDS)) >= before + keys,
                      timeout=duration + 30, interval=0.5, what="the last key of the replay")
    time.sleep(1)
    observed = qvtest.read_probe_log(probe.log_path)
    shutil.copy(probe.log_path, os.path.join(work, "..", "probe-tray-%d.log" % speed))
    probe.quit()
    qvtest.open_menu(qvtest.MENU_CORNER)
    qvtest.key("x")
    try:
        app.wait(15)
    except subprocess.TimeoutExpired:
        raise qvtest.TestFailure("Exit from the menu did not end the program")
    return observed


def measure(args):
    out = os.path.abspath(args.out)
    os.makedirs(out, exist_ok=True)
    events = journal_events()
    results = []
    kept = {}
    if args.from_logs and os.path.exists(os.path.join(out, "replay.json")):
        # Recomputing keeps the load figures measured with the logs.
        with open(os.path.join(out, "replay.json")) as j:
            saved = json.load(j)
        for f in saved.get("runs", []):
            kept[run_name(f)] = {k: f.get(k, float("nan")) for k in ("busy_pct", "cpu_wait_pct")}
        for f in saved.get("sinks", []):
            kept[f["name"]] = {k: f.get(k, float("nan")) for k in ("busy_pct", "cpu_wait_pct")}
    for run in args.runs.split(","):
        mode, _, speed = run.partition(":")
        speed = int(speed)
        modes = ("automation", "automation-windows", "automation-clicks", "automation-screens",
                 "tray")
        qvtest.check(mode in modes and (mode == "tray" or speed == 16),
                     "a run is automation, automation-windows, automation-clicks or "
                     "automation-screens at speed 16, or tray:SPEED, not %r" % run)
        clicked = mode in ("automation-clicks", "automation-screens")
        events = journal_events(clicks=clicked)
        measured = events[1:]
        name = "%s-%d" % (mode, speed)
        start = load_sample()
        if args.from_logs:
            observed = qvtest.read_probe_log(os.path.join(out, "probe-%s.log" % name))
        else:
            work = os.path.join(out, "work-%s" % name)
            shutil.rmtree(work, ignore_errors=True)
            if mode.startswith("automation"):
                observed = play_automation(args.exe, args.probe, events, work,
                                           windows=mode == "automation-windows",
                                           screens=mode == "automation-screens")
            else:
                observed = play_tray(args.exe, args.probe, events, speed, work)
            shutil.rmtree(work, ignore_errors=True)
        pairs = match(measured, observed)
        qvtest.check(len(pairs) >= 0.9 * len(measured),
                     "%s: only %d of %d events reached the probe"
                     % (name, len(pairs), len(measured)))
        f = figures(measured, pairs, mode, speed)
        f.update(load_since(start) if not args.from_logs
                 else kept.get(name, {"busy_pct": float("nan"), "cpu_wait_pct": float("nan")}))
        # A speed the menu did not set shows as a span far off the scaled one.
        expected_span = (measured[pairs[-1][0]][3] - measured[pairs[0][0]][3]) * speed / 16000.0
        qvtest.check(abs(f["span_s"] - expected_span) < 0.1 * expected_span,
                     "speed %d: replay took %.1f s, expected %.1f s"
                     % (speed, f["span_s"], expected_span))
        write_data(out, f)
        results.append(f)
        for line in summary_lines(f):
            print(line, flush=True)
    sinks = []
    if args.sink_exe and not args.from_logs:
        # The playback sink alone on the same time stamps, first injecting nothing (its timer
        # thread and message loop only), then injecting into the bare desktop (adding SendInput,
        # without a window that has to receive it).
        sinks = [run_sink(args.sink_exe, events, out, inject) for inject in (False, True)]
    elif args.from_logs:
        for name in ("sink", "sink-inject"):
            log = os.path.join(out, name + ".log")
            if os.path.exists(log):
                result = sink_figures(log, events)
                result.update(kept.get(name, {"busy_pct": float("nan"),
                                              "cpu_wait_pct": float("nan")}))
                result["name"] = name
                sinks.append(result)
                print(sink_line(name, result))
    with open(os.path.join(out, "replay.json"), "w") as j:
        json.dump({"runs": [{k: v for k, v in f.items() if k != "rows"} for f in results],
                   "sinks": sinks}, j, indent=1)
    plot(out, results)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--exe")
    parser.add_argument("--probe")
    parser.add_argument("--out", default="build/bench-results")
    parser.add_argument("--runs", default="automation:16,automation-windows:16,"
                        "automation-clicks:16,automation-screens:16,tray:16,tray:8,tray:32",
                        help="comma-separated MODE:SPEED, MODE automation, automation-windows, "
                        "automation-clicks or automation-screens (speed 16) or tray")
    parser.add_argument("--write-journal", metavar="PATH",
                        help="only write the journal to PATH and exit")
    parser.add_argument("--sink-exe", help="sink_timing.exe: also time the playback sink alone")
    parser.add_argument("--from-logs", action="store_true",
                        help="recompute the figures from the probe logs kept in --out")
    args = parser.parse_args()
    if args.write_journal:
        qvtest.write_journal(args.write_journal, journal_events())
        return 0
    return qvtest.run_measurement(measure, args, "replay benchmark", harness=not args.from_logs)


if __name__ == "__main__":
    sys.exit(main())
