#!/usr/bin/env python3
"""Draws the program's icons and writes them as .ico files for the resource build.

The icons are black-and-white pixel art on a transparent ground: a pair of cartoon eyes
under two brows. The tray animation swaps only brows and pupils, so every frame is painted
from the same eye layer and the eyes can never shift by a pixel between frames.

The 16x16 images are hand-drawn grids (that is the size the tray shows at 100 %). The larger
images, for high-DPI tray and window icons, are rasterised from the same design in 16-pixel
units, sampled at pixel centres so they stay crisp and free of antialiasing.

Every image is stored as a 16-colour (4 bits per pixel) DIB with an AND mask, which every
Windows version and windres accept. Output is deterministic: same script, same bytes.

    python3 tools/make_icons.py           regenerate app/resources/icons/*.ico
    python3 tools/make_icons.py --check   fail if the committed icons are stale
"""

import argparse
import struct
import sys
from pathlib import Path

ICON_DIR = Path(__file__).resolve().parent.parent / "app" / "resources" / "icons"

SIZES = (16, 32, 48, 64)

# Pixel values of a drawing.
CLEAR, BLACK, WHITE = ".", "#", "o"

# ---------------------------------------------------------------------------------------------
# 16x16: hand-drawn parts
# ---------------------------------------------------------------------------------------------

# Both eyes, occupying rows 6..15 of the 16x16 image. The eyes touch in the middle.
EYES_16_TOP = 6
EYES_16 = [
    "..####....####..",
    ".#oooo#..#oooo#.",
    "#oooooo##oooooo#",
    "#oooooo##oooooo#",
    "#oooooo##oooooo#",
    "#oooooo##oooooo#",
    "#oooooo##oooooo#",
    "#oooooo##oooooo#",
    ".#oooo#..#oooo#.",
    "..####....####..",
]

# Pupil: a 2x4 block; columns are relative to each eye's left edge. A pupil pressed against the
# outline reads as a letter C at this size, so a column of white always stays beside it.
PUPIL_16_ROWS = range(9, 13)
PUPIL_16_COLS = {"right": (4, 5), "middle": (3, 4), "left": (2, 3)}
EYE_16_LEFT_EDGES = (0, 8)

BROWS_16_LEVEL = [  # rows 3..4; the raised frame draws the same rows one pixel higher
    ".######..######.",
    ".######..######.",
]
BROWS_16_LEVEL_TOP = 3

BROWS_16_FROWN = [  # rows 0..4: outer ends high, inner ends low, meeting in a V
    "##............##",
    "####........####",
    "..####....####..",
    "....########....",
    "......####......",
]


def blank(size):
    return [[CLEAR] * size for _ in range(size)]


def paint_grid(img, grid, top, left=0):
    for y, row in enumerate(grid):
        for x, px in enumerate(row):
            if px != CLEAR:
                img[top + y][left + x] = px


def eyes_16():
    img = blank(16)
    paint_grid(img, EYES_16, EYES_16_TOP)
    return img


def brows_16(kind):
    img = blank(16)
    if kind == "level":
        paint_grid(img, BROWS_16_LEVEL, BROWS_16_LEVEL_TOP)
    elif kind == "raised":
        paint_grid(img, BROWS_16_LEVEL, BROWS_16_LEVEL_TOP - 1)
    else:
        paint_grid(img, BROWS_16_FROWN, 0)
    return img


def pupils_16(where):
    img = blank(16)
    for edge in EYE_16_LEFT_EDGES:
        for y in PUPIL_16_ROWS:
            for dx in PUPIL_16_COLS[where]:
                img[y][edge + dx] = BLACK
    return img


# ---------------------------------------------------------------------------------------------
# Larger sizes: the same design in 16-pixel units, sampled at pixel centres
# ---------------------------------------------------------------------------------------------

# Eye outline width in pixels per size; brows are twice as thick, as at 16x16.
LINE = {32: 2, 48: 3, 64: 4}

EYE_CX = (4.0, 12.0)  # eye centres, x, in 16-pixel units
EYE_CY = 11.0
EYE_RX, EYE_RY = 4.0, 5.0
PUPIL_RX, PUPIL_RY = 1.0, 2.0
PUPIL_CY = 11.0
PUPIL_DX = {"right": 1.0, "middle": 0.0, "left": -1.0}

# Brows as line segments in the left half; the right half is mirrored.
LEVEL_BROW = ((1.5, 4.0), (6.5, 4.0))
FROWN_BROW = ((0.9, 0.9), (8.0, 4.3))


def pixels(size):
    unit = size / 16.0
    for y in range(size):
        for x in range(size):
            yield x, y, (x + 0.5) / unit, (y + 0.5) / unit


def in_ellipse(u, v, cx, cy, rx, ry):
    return ((u - cx) / rx) ** 2 + ((v - cy) / ry) ** 2 <= 1.0


def eyes_large(size):
    # The outline is every pixel of the eye within LINE steps (4-connected) of the outside:
    # that keeps it an even LINE pixels wide all round, where an inset inner ellipse would
    # leave it thick on the diagonals and thin at the sides.
    line = LINE[size]
    reach = [(dx, dy) for dx in range(-line, line + 1) for dy in range(-line, line + 1)
             if 0 < abs(dx) + abs(dy) <= line]
    img = blank(size)
    for cx in EYE_CX:
        eye = {(x, y) for x, y, u, v in pixels(size)
               if in_ellipse(u, v, cx, EYE_CY, EYE_RX, EYE_RY)}
        for x, y in eye:
            edge = any((x + dx, y + dy) not in eye for dx, dy in reach)
            img[y][x] = BLACK if edge else WHITE
    return img


def dist_to_segment(u, v, seg):
    (ax, ay), (bx, by) = seg
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((u - ax) * dx + (v - ay) * dy) / (dx * dx + dy * dy)))
    return ((u - ax - t * dx) ** 2 + (v - ay - t * dy) ** 2) ** 0.5


def brows_large(size, kind):
    unit = size / 16.0
    half = LINE[size] / unit
    seg = FROWN_BROW if kind == "frown" else LEVEL_BROW
    lift = 1.0 if kind == "raised" else 0.0
    img = blank(size)
    for x, y, u, v in pixels(size):
        if x >= size // 2:
            continue
        if dist_to_segment(u, v + lift, seg) <= half:
            img[y][x] = BLACK
            img[y][size - 1 - x] = BLACK
    return img


def pupils_large(size, where):
    # Whole-pixel offsets keep the pupil's ellipse centred on a pixel boundary, so it comes out
    # symmetric and the same shape at every position.
    unit = size / 16.0
    shift = round(PUPIL_DX[where] * unit) / unit
    img = blank(size)
    for x, y, u, v in pixels(size):
        for cx in EYE_CX:
            if in_ellipse(u, v, cx + shift, PUPIL_CY, PUPIL_RX, PUPIL_RY):
                img[y][x] = BLACK
    return img


# ---------------------------------------------------------------------------------------------
# Composition
# ---------------------------------------------------------------------------------------------


def layers(size, brows, pupils):
    if size == 16:
        return eyes_16(), brows_16(brows), pupils_16(pupils)
    return eyes_large(size), brows_large(size, brows), pupils_large(size, pupils)


def face(size, brows, pupils):
    eyes, brow_img, pupil_img = layers(size, brows, pupils)
    img = [row[:] for row in eyes]
    for y in range(size):
        for x in range(size):
            # Brows must clear the eyes, or the eyes would differ between frames.
            if brow_img[y][x] == BLACK:
                if eyes[y][x] != CLEAR:
                    sys.exit(f"{size}px {brows} brow overlaps the eyes at {x},{y}")
                img[y][x] = BLACK
            # A pupil touching the outline would change the eye's silhouette between frames.
            if pupil_img[y][x] == BLACK:
                if eyes[y][x] != WHITE:
                    sys.exit(f"{size}px {pupils} pupil leaves the white at {x},{y}")
                img[y][x] = BLACK
    return img


ICONS = {
    "main.ico": lambda size: face(size, "level", "right"),
    "blank.ico": blank,
    "frame_raised.ico": lambda size: face(size, "raised", "right"),
    "frame_right.ico": lambda size: face(size, "frown", "right"),
    "frame_middle.ico": lambda size: face(size, "frown", "middle"),
    "frame_left.ico": lambda size: face(size, "frown", "left"),
}

# ---------------------------------------------------------------------------------------------
# ICO writer
# ---------------------------------------------------------------------------------------------

# The standard 16-colour palette, so the images look the same in any 16-colour context.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
INDEX = {CLEAR: 0, BLACK: 0, WHITE: 15}  # clear pixels must be 0 so XOR leaves the screen alone


def row_stride(width, bits):
    return (width * bits + 31) // 32 * 4


def dib(img):
    height, width = len(img), len(img[0])
    xor, mask = bytearray(), bytearray()
    for row in reversed(img):  # DIB rows run bottom-up
        colour = bytearray(row_stride(width, 4))
        clear = bytearray(row_stride(width, 1))
        for x, px in enumerate(row):
            colour[x // 2] |= INDEX[px] << (4 if x % 2 == 0 else 0)
            if px == CLEAR:
                clear[x // 8] |= 0x80 >> (x % 8)
        xor += colour
        mask += clear
    header = struct.pack("<IiiHHIIiiII", 40, width, 2 * height, 1, 4, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    palette = b"".join(struct.pack("<4B", b, g, r, 0) for r, g, b in PALETTE)
    return header + palette + bytes(xor) + bytes(mask)


def ico(images):
    entries, blobs = b"", b""
    offset = 6 + 16 * len(images)
    for img in images:
        data = dib(img)
        size = len(img)
        entries += struct.pack("<4B2H2I", size % 256, size % 256, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
        blobs += data
    return struct.pack("<3H", 0, 1, len(images)) + entries + blobs


def build():
    return {name: ico([draw(size) for size in SIZES]) for name, draw in ICONS.items()}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true",
                        help="compare the icons on disk with freshly drawn ones instead of writing")
    args = parser.parse_args()

    files = build()
    if args.check:
        stale = [n for n, data in files.items()
                 if not (ICON_DIR / n).exists() or (ICON_DIR / n).read_bytes() != data]
        for name in stale:
            print(f"stale: {ICON_DIR / name}", file=sys.stderr)
        return 1 if stale else 0

    ICON_DIR.mkdir(parents=True, exist_ok=True)
    for name, data in files.items():
        (ICON_DIR / name).write_bytes(data)
        print(ICON_DIR / name)
    return 0


if __name__ == "__main__":
    sys.exit(main())
