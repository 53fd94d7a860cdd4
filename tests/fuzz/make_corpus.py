#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into tests/fuzz/corpus/{journal,sound,text}: small
valid files and near misses, one change away from being valid or invalid. Run again after a
format change (with PYTHONPATH=tools, for the test kit's journal encoder); the files are
checked in."""

import os
import struct
import sys

sys.dont_write_bytecode = True
from qvtest import journal_bytes as journal  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
SIG = b"Quorvatellianis"

EVENTS = [
    (0x100, 0x1E41, 1, 5000, 0x10010),             # key down: vk and scan code
    (0x101, 0x1E41, 0xC0000001, 5040, 0x10010),    # key up
    (0x200, 320, 0xFFFFFFF6, 5100, 0x20020),       # move to a negative y
    (0x201, 320, 10, 5150, 0),
    (0x20A | (0xFF88 << 16), 10, 20, 5200, 0),     # wheel, one notch towards the user
    (0x20B | (2 << 16), 5, 5, 5300, 0),            # second X button
    (0x104, 0x3812, 0x8001, 0xFFFFFFF0, 0),        # Alt down just before the tick count wraps
    (0x105, 0x3812, 0x8001, 0x00000010, 0),        # and up after it
]


def window_entry(program, window_class, title, rect, dpi=96):
    return (struct.pack("<4iI", *rect, dpi) + bytes([len(program), len(window_class), len(title)])
            + program + window_class + title)


def windowed(events, entries, windows, count=None):
    """A journal with a window table after its header and each record's window in bytes 20-23."""
    table = b"WTBL" + struct.pack("<I", len(entries) if count is None else count) + b"".join(entries)
    plain = journal(events, header_size=40 + len(table), record_size=24)
    records = b"".join(struct.pack("<5I", *e) + struct.pack("<I", w) for e, w in zip(events, windows))
    return plain[:40] + table + records


def section(tag, body):
    return tag + struct.pack("<I", len(body)) + body


def listed(items, fmt):
    """A section's list: its count, then each item packed as `fmt`."""
    return struct.pack("<I", len(items)) + b"".join(struct.pack(fmt, *item) for item in items)


def sectioned(events, sections, windows=None):
    """A journal whose header holds tagged sections; with `windows`, 24-byte records naming each
    event's window."""
    extra = b"".join(sections)
    plain = journal(events, header_size=40 + len(extra), record_size=24 if windows else 20)
    if not windows:
        return plain[:40] + extra + plain[40 + len(extra):]
    return plain[:40] + extra + b"".join(struct.pack("<6I", *e, w) for e, w in zip(events, windows))


def picture(body, plain=False, dpi=96):
    """A press's picture: format, side, flags, dpi and the body's size, then its runs."""
    return bytes([1, 32, 1 if plain else 0]) + struct.pack("<HH", dpi, len(body)) + body


# A flat picture as the recorder encodes it (a repeated pixel, then rows from above), and a
# gradient given pixel by pixel, as a writer may encode what it could encode shorter.
FLAT = picture(b"\x7f\x20\x40\x60" + b"\xff" * 15)
GRADIENT = picture(b"".join(b"\x3f" + bytes(((i * 64 + j) * 3 + k) & 0xFF for j in range(64)
                                               for k in range(3)) for i in range(16)),
                   plain=True, dpi=144)


LEDGER = window_entry(b"ledger.exe", b"LedgerMain", b"Accounts - \"2026\" #1", (-1280, 40, -300, 700), 144)


def sound(payload, signature=SIG + b"\0"):
    return signature + payload


JOURNALS = {
    "empty": journal([]),
    "one-key": journal(EVENTS[:1]),
    "mixed": journal(EVENTS[:6]),
    "wrapping-times": journal(EVENTS),
    "wide-records": journal(EVENTS[:4], header_size=64, record_size=24),
    "noisy-signature": journal(EVENTS[:2], signature=SIG + b"\0junk"),
    "one-byte-long": journal(EVENTS[:3]) + b"\0",
    "one-byte-short": journal(EVENTS[:3])[:-1],
    "duration-off": journal(EVENTS[:3], duration=39),
    "letter-case": journal(EVENTS[:2], signature=b"quorvatellianis\0"),
    "no-terminator": journal(EVENTS[:2], signature=b"Quorvatellianisx"),
    "small-records": journal(EVENTS[:2], record_size=16),
    "wrapping-sizes": journal([], header_size=100, record_size=0x40000000, count=4),
    "header-only": journal([])[:39],
    # Header times of their own: Load only asks that they agree with one another.
    "own-header-times": journal(EVENTS[:3], first=7, last=1007),
    # A header of 20 bytes: the one record lies over the header's last 20 bytes.
    "overlapping-header": SIG + b"\0" + struct.pack("<6I", 20, 20, 1, 1000, 1500, 500),
    # Found by the fuzzer: a file shorter than the header, whose header says it is that short.
    "short-header": journal([], header_size=39)[:39],
    # Windows the events belong to, and a record naming one the table lacks.
    "windows": windowed(EVENTS[:4], [LEDGER, window_entry(b"", b"#32770", b"", (0, 0, 10, 10))],
                        [1, 1, 2, 0]),
    "windows-bad-reference": windowed(EVENTS[:2], [LEDGER], [1, 2]),
    # Sections: where windows stood, pictures of presses, motion of moves, a later version's.
    "sections-places": sectioned(EVENTS[:4], [
        section(b"WNDS", struct.pack("<I", 2) + LEDGER + window_entry(b"", b"#32770", b"",
                                                                      (0, 0, 10, 10))),
        section(b"WMOV", listed([(1, -1200, 50, -220, 710, 96), (2, 5, 5, 15, 15, 120)],
                                "<I4iI"))], [1, 1, 2, 0]),
    "sections-table-only": sectioned(EVENTS[:2], [section(b"WNDS", struct.pack("<I", 1) + LEDGER)],
                                     [1, 0]),
    "sections-pictures": sectioned(EVENTS[:6], [
        section(b"SHOT", struct.pack("<I", 2) + struct.pack("<I", 3) + FLAT
                + struct.pack("<I", 5) + GRADIENT)]),
    "sections-motion": sectioned(EVENTS[:4], [
        section(b"MOTN", listed([(2, -3, 7, 5)], "<IiiI"))]),
    "sections-later": sectioned(EVENTS[:4], [
        section(b"WNDS", struct.pack("<I", 1) + LEDGER),
        section(b"WMOV", listed([(1, 0, 0, 100, 100, 96)], "<I4iI")),
        section(b"SHOT", struct.pack("<I", 1) + struct.pack("<I", 3) + FLAT),
        section(b"MOTN", listed([(2, 1, 1, 4)], "<IiiI")),
        section(b"XTRA", b"kept as it is"),
        section(b"\x01 #\xff", b"")], [1, 1, 1, 0]),
    # A picture of a key, and motion before the windows: refused.
    "sections-picture-of-key": sectioned(EVENTS[:2], [
        section(b"SHOT", struct.pack("<I", 1) + struct.pack("<I", 0) + FLAT)]),
    "sections-out-of-order": sectioned(EVENTS[:4], [
        section(b"MOTN", listed([(2, 1, 1, 0)], "<IiiI")),
        section(b"WNDS", struct.pack("<I", 1) + LEDGER)], [1, 1, 1, 0]),
}

PATTERN = bytes((i * 7 + (i >> 8) * 13) & 0xFF for i in range(600))
SOUNDS = {
    "silence": sound(b"\x80" * 64),
    "pattern": sound(PATTERN),
    "one-sample": sound(b"\x7f"),
    "header-only": sound(b""),
    "no-terminator": SIG,
    "short": SIG[:5],
    "foreign": b"Pellomar v1.0\0" + PATTERN[:100],
    "late-zero": SIG + b"x\0" + PATTERN[:50],
}


# The journal tool's text: as dump writes it, every kind of line and field, and near misses.
# Valid journals go in too, since the text target also dumps what it is given as a file.
TEXTS = {
    "plain": b"""start 5000
window 0x10010
+0      key down A scan=0x1E
+40     key up A scan=0x1E h-hi=0xC000
window 0x20020
+60     move 320,-10
window 0
+50     left down 320,10
+50     wheel -120 10,20
+100    x2 down 5,5
+4294961980 syskey down Alt scan=0x38 ext
+32     syskey up Alt scan=0x38 ext
""",
    "everything": b"""# a comment
header-size 48
header-bytes AA00BB
record-size 24
first-time 7
last-time 1007
start 100
+0 key down Enter scan=0x1C repeat=3 l-hi=0x0001 msg-hi=0x0002 pad=EE
+1 syskey up 0xE5 scan=0
+2 right double -5,7 msg-hi=0x0009
+3 middle up 0,0
+4 x0 up 1,1 pad=01020304
+5 hwheel 240 -1,-1
+6 other 0x0300 0x1 0x2
+7 move 2147483647,-2147483648   # the edges
""",
    "crlf": b"\xEF\xBB\xBFstart 1\r\n+0 key down shift\r\n+9 key up Shift scan=0x2A\r\n",
    "bad-line": b"+5 key down A\n+x move 1,2\n",
    "bad-field": b"+5 move 1,2 ext\n",
    "empty": b"",
}
for name in ("mixed", "wide-records", "wrapping-times", "own-header-times", "overlapping-header"):
    TEXTS["journal-" + name] = JOURNALS[name]


def write(folder, files):
    path = os.path.join(HERE, "corpus", folder)
    os.makedirs(path, exist_ok=True)
    for name, data in files.items():
        with open(os.path.join(path, name), "wb") as f:
            f.write(data)


write("journal", JOURNALS)
write("sound", SOUNDS)
write("text", TEXTS)
