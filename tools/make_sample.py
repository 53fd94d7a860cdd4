#!/usr/bin/env python3
"""Writes samples/notepad_, the journal that `quorvatellianis.exe -Pnotepad` plays: after a
pause that lets Notepad open, it types a greeting (US keyboard layout).

    python3 tools/make_sample.py [OUTPUT]"""

import os
import sys

sys.dont_write_bytecode = True
import qvtest  # noqa: E402

WM_KEYDOWN, WM_KEYUP, WM_MOUSEMOVE = 0x100, 0x101, 0x200
SHIFT = (0x10, 0x2A)
LETTER_SCANS = dict(zip("qwertyuiop", range(0x10, 0x1A)))
LETTER_SCANS.update(zip("asdfghjkl", range(0x1E, 0x27)))
LETTER_SCANS.update(zip("zxcvbnm", range(0x2C, 0x33)))
OTHERS = {" ": (0x20, 0x39, False), "!": (0x31, 0x02, True), ",": (0xBC, 0x33, False),
          ".": (0xBE, 0x34, False), "\n": (0x0D, 0x1C, False)}
TEXT = "Hello! This text was typed by a recorded journal.\nIt plays, then the run ends by itself.\n"


def keys(char):
    if char.lower() in LETTER_SCANS:
        return ord(char.upper()), LETTER_SCANS[char.lower()], char.isupper()
    return OTHERS[char]


def events():
    time = 100000
    yield (WM_MOUSEMOVE, 500, 350, time)
    time += 2500  # Notepad opens meanwhile
    for char in TEXT:
        vk, scan, shifted = keys(char)
        if shifted:
            yield (WM_KEYDOWN, SHIFT[0] | SHIFT[1] << 8, 1, time)
            time += 20
        yield (WM_KEYDOWN, vk | scan << 8, 1, time)
        time += 35
        yield (WM_KEYUP, vk | scan << 8, 1, time)
        time += 20
        if shifted:
            yield (WM_KEYUP, SHIFT[0] | SHIFT[1] << 8, 1, time)
        time += 25


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "samples", "notepad_")
    qvtest.write_journal(out, list(events()))


main()
