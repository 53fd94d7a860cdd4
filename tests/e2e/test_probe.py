"""The harness delivers real input: keys typed and clicks made with xdotool reach a Windows window
in the Wine desktop, in order, at the right places, with timestamps that track the wall clock.
Every other end-to-end test builds on this."""

import os
import time

import qvtest

VK_SHIFT, VK_MENU = 0x10, 0x12


def check_keyboard(probe):
    qvtest.type_text("Hi 5", delay_ms=40)
    # Alt+X would put a default window into menu mode; the probe must keep seeing what follows.
    qvtest.key("alt+x", "z", delay_ms=40)
    events = probe.wait_for(lambda e: e.kind == "WM_KEYUP" and e.vk == ord("Z"),
                            what="the key-up of Z")
    chars = "".join(e.char for e in events if e.kind == "WM_CHAR")
    assert chars == "Hi 5z", "typed 'Hi 5' then 'z', the probe got characters %r" % chars

    downs = [e.vk for e in events if e.kind == "WM_KEYDOWN"]
    assert downs[:2] == [VK_SHIFT, ord("H")], "capital H should come as Shift then H: %s" % downs
    assert ord("Z") in downs, "Z after Alt+X went missing: %s" % downs
    sys_downs = [e.vk for e in events if e.kind == "WM_SYSKEYDOWN"]
    assert ord("X") in sys_downs, "Alt+X should give WM_SYSKEYDOWN for X: %s" % sys_downs
    for e in events:
        if e.kind in ("WM_KEYDOWN", "WM_KEYUP"):
            assert e.scan != 0, "key message without a scan code: %r" % e
            is_up = bool(e.lp & 0x80000000)
            assert is_up == (e.kind == "WM_KEYUP"), "transition bit wrong in %r" % e


def check_mouse(probe):
    left, top, right, bottom = probe.client
    targets = [(left + 50, top + 60, 1), (left + 300, top + 200, 3), (right - 20, bottom - 10, 1)]
    for x, y, button in targets:
        qvtest.click(button, x, y)
    qvtest.wheel(2)
    qvtest.wheel(-1)
    events = probe.wait_for(lambda e: e.kind == "WM_MOUSEWHEEL" and e.wheel_delta < 0,
                            what="the wheel turned down")

    names = {1: "WM_LBUTTON", 3: "WM_RBUTTON"}
    presses = [e for e in events if e.kind.endswith("BUTTONDOWN") or e.kind.endswith("BUTTONUP")]
    expected = [names[b] + s for _, _, b in targets for s in ("DOWN", "UP")]
    assert [e.kind for e in presses] == expected, (
        "clicks arrived as %s, expected %s" % ([e.kind for e in presses], expected))
    for i, e in enumerate(presses):
        x, y, _ = targets[i // 2]
        assert (e.x, e.y) == (x, y) and (e.mx, e.my) == (x, y), (
            "%s at screen %d,%d was logged at cursor %d,%d / message %d,%d"
            % (e.kind, x, y, e.x, e.y, e.mx, e.my))
        assert e.lp_point == (x - left, y - top), (
            "%s lParam %s is not the client point %s" % (e.kind, e.lp_point, (x - left, y - top)))

    deltas = [e.wheel_delta for e in events if e.kind == "WM_MOUSEWHEEL"]
    assert deltas == [120, 120, -120], "wheel deltas %s, expected [120, 120, -120]" % deltas


def check_timestamps(probe, started, typed_from, typed_to):
    """t is the probe's clock: it must never go back and must run at the wall clock's rate."""
    events = qvtest.read_probe_log(probe.log_path)
    times = [e.t for e in events]
    assert all(a <= b for a, b in zip(times, times[1:])), "timestamps go back: %s" % times
    lifetime_us = (time.monotonic() - started) * 1e6
    assert 0 <= times[0] and times[-1] <= lifetime_us, (
        "timestamps %d..%d outside the probe's %d us of life" % (times[0], times[-1], lifetime_us))

    # Five characters typed 40 ms apart: the probe's span must be close to what we measured.
    keys = [e for e in events if e.kind in ("WM_KEYDOWN", "WM_KEYUP")]
    span_us = keys[-1].t - keys[0].t
    host_us = (typed_to - typed_from) * 1e6
    assert 100_000 <= span_us <= host_us + 20_000, (
        "typing took %.0f ms by the probe's clock, %.0f ms by ours" % (span_us / 1e3, host_us / 1e3))
    message_times = [e.mt for e in events if hasattr(e, "mt") and e.mt]
    assert all(a <= b for a, b in zip(message_times, message_times[1:])), (
        "message times go back: %s" % message_times)


def test_probe(probe_exe, scratch, out):
    started = time.monotonic()
    probe = qvtest.start_probe(probe_exe, scratch("probe.log"), timeout_s=120)
    assert probe.client[2] - probe.client[0] > 400, "client area too small: %s" % (probe.client,)
    probe.focus()

    typed_from = time.monotonic()
    check_keyboard(probe)
    typed_to = time.monotonic()
    check_mouse(probe)
    if out:
        qvtest.screenshot(os.path.join(out, "test_probe.png"))

    code = probe.quit()
    assert code == 0, "probe exited with %d" % code
    last = qvtest.read_probe_log(probe.log_path)[-1]
    assert last.kind == "quit" and last.reason == "file", "last log line is %r" % last
    check_timestamps(probe, started, typed_from, typed_to)
