"""Journal files as the tests write and check them (docs/journal-format.md)."""

import collections
import struct

from .run import check

JOURNAL_SIGNATURE = b"Quorvatellianis\0"
Journal = collections.namedtuple("Journal", "count first last duration times")


def journal_header(count, first, last, header_size=40, record_size=20, duration=None,
                   signature=JOURNAL_SIGNATURE):
    """The first 40 bytes of a journal file; any field may be given a value that lies."""
    if duration is None:
        duration = (last - first) & 0xFFFFFFFF
    return signature.ljust(16, b"\0")[:16] + struct.pack(
        "<6I", header_size, record_size, count, first, last, duration)


def journal_records(events, record_size=20):
    """(message, paramL, paramH, time[, hwnd[, window]]) events as records, padded with 0xEE."""
    return b"".join(struct.pack("<%dI" % len(fields), *(v & 0xFFFFFFFF for v in fields))
                    .ljust(record_size, b"\xEE")
                    for fields in ((tuple(e) + (0,) * 5)[:max(5, len(e))] for e in events))


def journal_bytes(events, header_size=40, record_size=20, count=None, first=None, last=None,
                  duration=None, signature=JOURNAL_SIGNATURE):
    """A journal file of the events; each header field follows from them unless given. A header
    longer than 40 bytes is padded with 0xAA."""
    times = [e[3] for e in events] or [0]
    head = journal_header(len(events) if count is None else count,
                          times[0] if first is None else first,
                          times[-1] if last is None else last,
                          header_size, record_size, duration, signature)
    return head.ljust(header_size, b"\xAA") + journal_records(events, record_size)


def window_table(windows):
    """The header's extra bytes naming (program, class, title, (left, top, right, bottom), dpi)
    windows; records then name them by number from 1 as their sixth field."""
    table = b"WTBL" + struct.pack("<I", len(windows))
    for program, window_class, title, rect, dpi in windows:
        names = [n.encode("ascii") for n in (program, window_class, title)]
        table += struct.pack("<4iI3B", *rect, dpi, *map(len, names)) + b"".join(names)
    return table


def section(tag, body):
    """One section of a header that holds more than a window table: tag, length, bytes."""
    return tag + struct.pack("<I", len(body)) + body


def pictures_section(pictures):
    """The section of screen pictures: (event index, 32 x 32 RGB bytes, dpi) each, every pixel
    given as it is."""
    body = struct.pack("<I", len(pictures))
    for event, rgb, dpi in pictures:
        runs = b"".join(bytes([63]) + rgb[at:at + 192] for at in range(0, len(rgb), 192))
        body += struct.pack("<IBBBHH", event, 1, 32, 0, dpi, len(runs)) + runs
    return section(b"SHOT", body)


def write_journal(path, events, windows=None, extra=b""):
    """A journal of the events; with `windows`, their table and 24-byte records (an event's
    sixth value its window's number); `extra`, sections after the first 40 bytes (with no
    windows)."""
    data = journal_bytes(events, 40 + len(extra))
    data = data[:40] + extra + data[40 + len(extra):]
    if windows:
        table = window_table(windows)
        data = journal_bytes([(tuple(e) + (0,) * 6)[:6] for e in events], 40 + len(table), 24)
        data = data[:40] + table + data[40 + len(table):]
    with open(path, "wb") as f:
        f.write(data)


def read_journal(path):
    """Checks a journal file the program wrote (signature, the plain layout or one with a window
    table, the duration) and returns its header's figures and the records' times as a Journal."""
    with open(path, "rb") as f:
        data = f.read()
    check(len(data) >= 40, "journal too short: %d bytes" % len(data))
    check(data[:16] == JOURNAL_SIGNATURE, "signature field %r" % data[:16])
    header_size, record_size, count, first, last, duration = struct.unpack("<6I", data[16:40])
    # A recording that knows its windows has their table after the 40 bytes, alone or among
    # sections, and 24-byte records; sections without a table keep 20-byte records.
    tags = set()
    at = 40
    if data[40:44] == b"WTBL":
        tags.add(b"WTBL")
    else:
        while header_size - at >= 8:
            tags.add(data[at:at + 4])
            at += 8 + struct.unpack_from("<I", data, at + 4)[0]
    windows = bool(tags & {b"WTBL", b"WNDS"})
    check((header_size == 40 or tags) and record_size == (24 if windows else 20),
          "sizes %d/%d" % (header_size, record_size))
    check(len(data) == header_size + record_size * count,
          "%d bytes for %d records" % (len(data), count))
    check((last - first) & 0xFFFFFFFF == duration, "duration %d" % duration)
    times = [struct.unpack_from("<I", data, header_size + record_size * i + 12)[0]
             for i in range(count)]
    return Journal(count, first, last, duration, times)


