#!/usr/bin/env python3
"""Idle cost in tray mode: what the program costs while it sits in the notification area doing
nothing but its timers (the 300 ms tray tick and the 1000 ms time-limit tick), and while its
icon blinks through a playback that waits.

    python3 bench/idle_cost.py --exe quorvatellianis.exe --out DIR [--seconds 60]

Runs inside tools/harness (re-runs itself inside one when started outside). Windows of the
same length are measured on the harness's processes (everything carrying its QV_HARNESS_ID: Xvfb,
wineserver, the Wine desktop and services, the program):

  1. baseline: the desktop alone;
  2. tray: the program started with no arguments, after its welcome balloon has gone;
  3. blinking: the same, playing a journal whose second event is ten minutes after the first,
     so that the icon blinks while the playback waits;
  4. waiting: a play run whose journal is missing, waiting hidden for its hotkey.

From /proc: CPU time (utime+stime of every thread, /proc/PID/stat) and context switches
(voluntary and involuntary, summed over /proc/PID/task/*/status). A voluntary switch is a thread
blocking; each wake-up of a thread ends one, so voluntary switches per second count wake-ups.
The program's own figures are its process's; the whole-harness figures minus the baseline are
what its presence costs everything together (wineserver relaying its timers and messages, the
desktop redrawing its icon, the X server).

Writes DIR/idle.json and prints:

    idle mode=tray wakeups_per_s=4.4 cpu_pct=0.05 total_wakeups_per_s=12.0 total_cpu_pct=0.30
"""

import argparse
import json
import os
import sys
import time

sys.dont_write_bytecode = True
import qvtest  # noqa: E402

TICKS = os.sysconf("SC_CLK_TCK")


def harness_pids():
    """Processes of this harness run, by the mark every one of them inherits."""
    mark = ("QV_HARNESS_ID=%s" % os.environ.get("QV_HARNESS_ID", "")).encode()
    pids = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or int(entry) == os.getpid():
            continue
        try:
            with open("/proc/%s/environ" % entry, "rb") as f:
                if mark in f.read().split(b"\0"):
                    pids.append(int(entry))
        except OSError:
            pass
    return pids


def name_of(pid):
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            words = f.read().split(b"\0")
        first = words[0].decode(errors="replace")
        return os.path.basename(first.replace("\\", "/")) or "?"
    except OSError:
        return "?"


def sample(pid):
    """CPU seconds of a process (utime+stime: its threads, the ended ones included) and, per
    thread, (voluntary, involuntary) context switches."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        cpu = (int(fields[11]) + int(fields[12])) / TICKS
        threads = {}
        for task in os.listdir("/proc/%d/task" % pid):
            counts = [0, 0]
            try:
                with open("/proc/%d/task/%s/status" % (pid, task)) as f:
                    for line in f:
                        if line.startswith("voluntary_ctxt_switches"):
                            counts[0] = int(line.split()[1])
                        elif line.startswith("nonvoluntary_ctxt_switches"):
                            counts[1] = int(line.split()[1])
            except OSError:
                continue
            threads[task] = counts
        return cpu, threads
    except (OSError, IndexError, ValueError):
        return None


def window(seconds):
    """Per-process rates over `seconds`, for processes that lived through the whole window.
    Switches of a thread that ended within the window are lost; a thread that started within it
    counts from its start."""
    pids = harness_pids()
    before = {pid: sample(pid) for pid in pids}
    start = time.monotonic()
    time.sleep(seconds)
    elapsed = time.monotonic() - start
    rates = {}
    for pid in pids:
        after = sample(pid)
        if before[pid] is None or after is None:
            continue
        switches = [0, 0]
        per_thread = {}
        for task, counts in after[1].items():
            old = before[pid][1].get(task, [0, 0])
            delta = [counts[0] - old[0], counts[1] - old[1]]
            per_thread[task] = delta[0] / elapsed
            switches[0] += delta[0]
            switches[1] += delta[1]
        rates[pid] = {
            "name": name_of(pid),
            "threads": len(after[1]),
            "cpu_pct": 100.0 * (after[0] - before[pid][0]) / elapsed,
            "wakeups_per_s": switches[0] / elapsed,
            "involuntary_per_s": switches[1] / elapsed,
            "wakeups_per_s_by_thread": per_thread,
        }
    return rates


def totals(rates):
    return {k: sum(r[k] for r in rates.values())
            for k in ("cpu_pct", "wakeups_per_s", "involuntary_per_s")}


def program_pid(exe):
    name = os.path.basename(exe).lower()
    for pid in harness_pids():
        if name_of(pid).lower() == name:
            return pid
    return None


def summary(mode, rates, pid, baseline):
    own = rates[pid]
    added = {k: v - totals(baseline)[k] for k, v in totals(rates).items()}
    return {"mode": mode, "program": own, "total": totals(rates), "added_total": added,
            "processes": sorted(rates.values(), key=lambda r: -r["wakeups_per_s"])}


def start_blinking(work):
    """Loads a journal that waits ten minutes after its first event and plays it."""
    journal = os.path.join(work, "long.jnf")
    qvtest.write_journal(journal, [(0x200, 500, 300, 1000), (0x200, 510, 310, 601000)])
    qvtest.open_menu(qvtest.MENU_CORNER)
    qvtest.key(*(["Down"] * 9), "Return")  # Load Record
    qvtest.answer_file_dialog("Open", journal)
    qvtest.key("ctrl+alt+shift+p")


def measure_program(args, exe_args, mode, baseline, cwd=None):
    app = qvtest.start_exe(args.exe, *exe_args, cwd=cwd)
    pid = qvtest.wait_until(lambda: program_pid(args.exe), timeout=15, what="the program")
    time.sleep(args.settle)  # past the welcome balloon, which stays at least 10 s
    if mode == "blinking":
        start_blinking(cwd)
        time.sleep(args.settle)  # past the playback balloon
    qvtest.check(app.poll() is None, "the program exited (%s)" % mode)
    rates = window(args.seconds)
    qvtest.check(pid in rates and app.poll() is None, "the program exited while measured")
    if mode == "blinking":
        qvtest.key("ctrl+alt+shift+s")  # the playback keeps the user's other keys out
        time.sleep(0.5)
    # Ctrl+Alt+Shift+Delete opens the menu in tray mode and ends a waiting play run.
    qvtest.mouse_move(500, 300)
    qvtest.key("ctrl+alt+shift+Delete")
    if mode != "waiting":
        time.sleep(0.8)
        qvtest.focus(qvtest.desktop_window())
        qvtest.key("x")
    app.wait(15)
    return summary(mode, rates, pid, baseline)


def measure(args):
    out = os.path.abspath(args.out)
    os.makedirs(out, exist_ok=True)
    time.sleep(args.settle)  # the desktop's own start-up settles too
    baseline = window(args.seconds)
    results = [measure_program(args, [], "tray", baseline)]
    work = qvtest.scratch("blinking")
    os.makedirs(work)
    results.append(measure_program(args, [], "blinking", baseline, work))
    # A play run whose journal is missing waits for its hotkey: the same program without the
    # tray icon and its 300 ms tick, only the time-limit tick.
    work = qvtest.scratch("waiting")
    os.makedirs(work)
    results.append(measure_program(args, ["-Pcmd", "/c", "exit"], "waiting", baseline, work))

    with open(os.path.join(out, "idle.json"), "w") as f:
        json.dump({"seconds": args.seconds, "baseline": totals(baseline),
                   "baseline_processes": sorted(baseline.values(),
                                                key=lambda r: -r["wakeups_per_s"]),
                   "modes": results}, f, indent=1)
    rows = [("baseline", r) for r in baseline.values()]
    for result in results:
        rows += [(result["mode"], r) for r in result["processes"]]
    for label, r in rows:
        if r["wakeups_per_s"] or r["cpu_pct"]:
            print("  %-8s %-24s threads=%-3d wakeups/s=%7.2f involuntary/s=%6.2f cpu=%6.3f%%"
                  % (label, r["name"][:24], r["threads"], r["wakeups_per_s"],
                     r["involuntary_per_s"], r["cpu_pct"]))
    for result in results:
        own, added = result["program"], result["added_total"]
        print("idle mode=%s wakeups_per_s=%.1f cpu_pct=%.3f total_wakeups_per_s=%.1f "
              "total_cpu_pct=%.3f" % (result["mode"], own["wakeups_per_s"], own["cpu_pct"],
                                      added["wakeups_per_s"], added["cpu_pct"]), flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--exe", required=True)
    parser.add_argument("--out", default="build/bench-results")
    parser.add_argument("--seconds", type=float, default=60)
    parser.add_argument("--settle", type=float, default=15,
                        help="seconds between the start and the measurement")
    args = parser.parse_args()
    return qvtest.run_measurement(measure, args, "idle benchmark")


if __name__ == "__main__":
    sys.exit(main())
