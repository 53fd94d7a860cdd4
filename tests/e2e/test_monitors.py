"""Clicks recorded on each of three monitors, one of them left of the primary and one above it
(negative screen coordinates), replay within 1 px of where they were recorded: at 96 dpi, and
again with the system at 144 dpi. An automation run records into a frameless probe that covers
every monitor, so that even a monitor's edge pixels arrive as clicks."""

import os
import time

import pytest
import qvtest

# Each monitor as WIDTH, HEIGHT, X, Y on the X screen, the primary first: Windows puts the
# primary's top left at 0,0. (The primary is the largest: see tools/harness.)
MONITORS = [(1024, 768, 800, 600), (800, 600, 0, 600), (800, 600, 800, 0)]
ORIGIN = MONITORS[0][2:]
LEFT = min(x for _, _, x, _ in MONITORS) - ORIGIN[0]
TOP = min(y for _, _, _, y in MONITORS) - ORIGIN[1]
RIGHT = max(x + w for w, _, x, _ in MONITORS) - ORIGIN[0]
BOTTOM = max(y + h for _, h, _, y in MONITORS) - ORIGIN[1]
COMMAND = "probe.exe --log run.log --pos %d,%d --size %dx%d --frame none --timeout 60" % (
    LEFT, TOP, RIGHT - LEFT, BOTTOM - TOP)
pytestmark = pytest.mark.monitors(",".join("%dx%d+%d+%d" % m for m in MONITORS))


def to_windows(x, y):
    return x - ORIGIN[0], y - ORIGIN[1]


def monitor_rects():
    """Each monitor's rectangle in Windows screen coordinates, as the probe logs them."""
    rects = []
    for w, h, x, y in MONITORS:
        left, top = to_windows(x, y)
        rects += [left, top, left + w, top + h]
    return tuple(rects)


def click_points():
    """Where the clicks go, on the X screen: each monitor's corners and centre."""
    return [p for w, h, x, y in MONITORS
            for p in ((x, y), (x + w - 1, y + h - 1), (x + w // 2, y + h // 2))]


def clicks(log):
    """Where the probe saw each left button go down, in Windows screen coordinates."""
    return [(e.mx, e.my) for e in qvtest.read_probe_log(log) if e.kind == "WM_LBUTTONDOWN"]


@pytest.mark.parametrize("dpi", (96, 144))
def test_clicks_replay_on_every_monitor(exe, work, dpi):
    code, text = qvtest.wine_command("reg", "add", r"HKCU\Control Panel\Desktop", "/v",
                                     "LogPixels", "/t", "REG_DWORD", "/d", dpi, "/f")
    assert code == 0, "could not set LogPixels: %s" % text
    log = os.path.join(work, "run.log")

    record = qvtest.start_run(exe, "-R", COMMAND, work)
    ready = qvtest.wait_until(lambda: qvtest.read_probe_log(log), timeout=20,
                              what="the probe launched by the record run")[0]
    assert ready.dpi == dpi and ready.monitors == monitor_rects(), (
        "Wine shows dpi %s and monitors %s, not %d and %s"
        % (ready.dpi, ready.monitors, dpi, monitor_rects()))
    # The run's first event, replayed at once: the clicks follow once the probe is up.
    qvtest.mouse_move(ORIGIN[0] + 100, ORIGIN[1] + 100)
    time.sleep(2)
    qvtest.focus(qvtest.wait_window("^Probe$"))
    for point in click_points():
        qvtest.click(1, *point)
    time.sleep(0.3)
    qvtest.key("ctrl+alt+shift+Delete")
    qvtest.wait_exit(record, 20, "the record run", expect=0)
    recorded = clicks(log)
    expected = [to_windows(*p) for p in click_points()]
    assert recorded == expected, "the clicks landed at %s, not %s" % (recorded, expected)
    qvtest.quit_run_probe(work)

    play = qvtest.start_run(exe, "-P", COMMAND, work)
    qvtest.wait_exit(play, 60, "the play run", expect=0)
    replayed = clicks(log)
    qvtest.quit_run_probe(work)
    assert len(replayed) == len(recorded), "replayed clicks %s, recorded %s" % (replayed, recorded)
    worst = max(max(abs(a[0] - b[0]), abs(a[1] - b[1])) for a, b in zip(recorded, replayed))
    assert worst <= 1, "replayed clicks %s, recorded %s" % (replayed, recorded)
    print("%d dpi: %d clicks on %d monitors, worst %d px off" % (dpi, len(recorded),
                                                                  len(MONITORS), worst))
