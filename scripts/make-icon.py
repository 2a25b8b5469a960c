#!/usr/bin/env python3
"""Draws the station's icon: a label with a barcode on dark blue, and a green
check mark for the label verified by scanning. Written at build time, like
the sounds, so no picture is kept in the repository:

    make-icon.py OUT_DIR

writes OUT_DIR/vexora-SIZE.png for the desktop's icon sizes and
OUT_DIR/vexora.ico (16 to 256 pixels) for Windows. Python's standard library
only."""

import math
import os
import struct
import sys
import zlib

SIZES = (16, 24, 32, 48, 64, 128, 256)
ICO_SIZES = (16, 24, 32, 48, 64, 256)

NAVY = (31, 58, 95, 255)
WHITE = (255, 255, 255, 255)
INK = (20, 20, 20, 255)
GREEN = (0, 150, 70, 255)
CLEAR = (0, 0, 0, 0)

# The barcode's bars as (start, width) in a 256-unit square: a fixed pattern,
# guard bars at both ends.
BARS = []
x = 58
for w, gap in ((4, 4), (4, 8), (12, 4), (4, 8), (8, 4), (4, 12), (8, 4), (12, 8), (4, 4),
               (8, 8), (4, 4), (12, 4), (4, 8), (8, 4), (4, 4)):
    BARS.append((x, w))
    x += w + gap


def in_round_rect(px, py, x0, y0, x1, y1, r):
    if px < x0 or px > x1 or py < y0 or py > y1:
        return False
    cx = min(max(px, x0 + r), x1 - r)
    cy = min(max(py, y0 + r), y1 - r)
    return (px - cx) ** 2 + (py - cy) ** 2 <= r * r


def near_segment(px, py, ax, ay, bx, by, half):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    qx, qy = ax + t * dx, ay + t * dy
    return (px - qx) ** 2 + (py - qy) ** 2 <= half * half


def colour_at(px, py):
    """The colour at a point of the 256-unit square, shapes painted in order."""
    # The check mark's badge, over everything else.
    if (px - 192) ** 2 + (py - 192) ** 2 <= 52 * 52:
        if near_segment(px, py, 166, 192, 184, 212, 9) or near_segment(px, py, 184, 212, 218, 172, 9):
            return WHITE
        return GREEN
    if not in_round_rect(px, py, 8, 8, 248, 248, 44):
        return CLEAR
    if in_round_rect(px, py, 36, 52, 220, 188, 14):
        if 70 <= py <= 164:
            for bx, bw in BARS:
                if bx <= px < bx + bw:
                    return INK
        return WHITE
    return NAVY


def render(size, samples=4):
    """RGBA rows of the icon at size pixels, each pixel the mean of
    samples x samples points."""
    scale = 256.0 / size
    rows = []
    n = samples * samples
    for y in range(size):
        row = bytearray()
        for x in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(samples):
                for sx in range(samples):
                    c = colour_at((x + (sx + 0.5) / samples) * scale,
                                  (y + (sy + 0.5) / samples) * scale)
                    a = c[3]
                    acc[0] += c[0] * a
                    acc[1] += c[1] * a
                    acc[2] += c[2] * a
                    acc[3] += a
            alpha = acc[3]
            if alpha:
                row += bytes((round(acc[0] / alpha), round(acc[1] / alpha),
                              round(acc[2] / alpha), round(alpha / n)))
            else:
                row += bytes(4)
        rows.append(bytes(row))
    return rows


def png(size, rows):
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    raw = b"".join(b"\x00" + r for r in rows)
    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def ico(images):
    """An .ico holding PNG images (Windows Vista and later read them)."""
    head = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries, data = b"", b""
    for size, blob in images:
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(blob),
                               offset + len(data))
        data += blob
    return head + entries + data


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    pngs = {}
    for size in SIZES:
        pngs[size] = png(size, render(size, 4 if size <= 64 else 2))
        with open(os.path.join(out, "vexora-%d.png" % size), "wb") as f:
            f.write(pngs[size])
    with open(os.path.join(out, "vexora.ico"), "wb") as f:
        f.write(ico([(s, pngs[s]) for s in ICO_SIZES]))


if __name__ == "__main__":
    main()
