#!/usr/bin/env python3
"""Draws the manager's icons into manager/icons/ as 32x32 palette PNGs.

Each icon is a diamond split vertically: the left half shows the link to the
ACD server, the right half the link to the database, green when up and red
when down. The program icon (128) is the same diamond in blue. Upper facets
are lighter than lower ones so the diamond reads as a cut stone. Run again
after changing a colour; the output is byte for byte reproducible.
"""

import os
import struct
import sys
import zlib

SIZE = 32
CENTRE = 15.5  # the middle of pixel 15: rows and columns 0..30 lie symmetric around it
RADIUS = 15.0  # the tips touch the icon's top and left edge

# Palette index -> (red, green, blue, alpha); index 0 is transparent.
PALETTE = [
    (0, 0, 0, 0),  # transparent
    (32, 32, 32, 255),  # outline and the split
    (40, 210, 40, 255),  # green, upper facet
    (0, 140, 0, 255),  # green, lower facet
    (240, 70, 60, 255),  # red, upper facet
    (170, 10, 10, 255),  # red, lower facet
    (80, 140, 240, 255),  # blue, upper facet
    (20, 60, 170, 255),  # blue, lower facet
]
GREEN, RED, BLUE = (2, 3), (4, 5), (6, 7)

# Icon resource number -> (left half, right half).
ICONS = {
    128: (BLUE, BLUE),
    131: (GREEN, RED),  # ACD server up, database down
    132: (RED, GREEN),  # ACD server down, database up
    133: (RED, RED),  # both down
    134: (GREEN, GREEN),  # both up
}


def pixel(x, y, left, right):
    """Palette index of pixel (x, y), judged at the pixel's centre."""
    dx = x + 0.5 - CENTRE
    dy = y + 0.5 - CENTRE
    distance = abs(dx) + abs(dy)
    if distance > RADIUS:
        return 0
    if distance > RADIUS - 1.5 or dx == 0:
        return 1
    upper, lower = left if dx < 0 else right
    return upper if dy < 0 else lower


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))


def png(left, right):
    rows = b"".join(
        b"\x00" + bytes(pixel(x, y, left, right) for x in range(SIZE)) for y in range(SIZE)
    )
    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 3, 0, 0, 0)
    palette = b"".join(bytes(colour[:3]) for colour in PALETTE)
    alpha = bytes(colour[3] for colour in PALETTE)
    return (
        b"\x89PNG\r\n\x1a\n"
        + chunk(b"IHDR", header)
        + chunk(b"PLTE", palette)
        + chunk(b"tRNS", alpha)
        + chunk(b"IDAT", zlib.compress(rows, 9))
        + chunk(b"IEND", b"")
    )


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    folder = os.path.join(here, "..", "manager", "icons")
    os.makedirs(folder, exist_ok=True)
    for number, (left, right) in ICONS.items():
        path = os.path.join(folder, "icon%d.png" % number)
        with open(path, "wb") as out:
            out.write(png(left, right))
        print(os.path.relpath(path), file=sys.stderr)


if __name__ == "__main__":
    main()
