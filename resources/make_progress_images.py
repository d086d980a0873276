#!/usr/bin/env python3
"""Draws the progress strips and the running highlight of the program's own look.

Run from anywhere: `python3 resources/make_progress_images.py`. It rewrites the PNG files in
resources/images/; the committed PNGs are its output. Only the standard library is used.

The palette is the calm blue of the progress frame RGB(0xC3, 0xD9, 0xE7) and of the output
box RGB(0xCE, 0xE2, 0xEF): done work is a deeper shade of it, remaining work almost white,
so that black text stays readable on both.
"""
import math
import os
import struct
import zlib

HEIGHT = 18          # the inside of a list row's status cell; taller targets stretch it
STRIP_WIDTH = 6      # 1-pixel left cap, 4 stretchable columns, 1-pixel right cap
HIGHLIGHT_WIDTH = 40


def png_bytes(width, height, rows):
    """rows: height lists of width (r, g, b, a) tuples -> the bytes of an RGBA PNG."""
    raw = bytearray()
    for row in rows:
        raw.append(0)  # filter type None
        for r, g, b, a in row:
            raw += bytes((r, g, b, a))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def mix(a, b, t):
    return tuple(int(round(x + (y - x) * t)) for x, y in zip(a, b))


def vertical(top, middle, bottom, y):
    """A two-part gradient: top to middle over the upper half, middle to bottom below."""
    t = y / (HEIGHT - 1)
    if t < 0.5:
        return mix(top, middle, t / 0.5)
    return mix(middle, bottom, (t - 0.5) / 0.5)


def strip(top, middle, bottom, left_cap, right_cap):
    rows = []
    for y in range(HEIGHT):
        body = vertical(top, middle, bottom, y)
        left = mix(body, left_cap, 0.6)
        right = mix(body, right_cap, 0.6)
        row = [left + (255,)] + [body + (255,)] * (STRIP_WIDTH - 2) + [right + (255,)]
        rows.append(row)
    return rows


def highlight():
    """A soft band with a white core inside a blue halo: over the done part the halo melts into
    the strip and the core lightens it; over the nearly white remaining part the halo shows. So
    the sweep is seen wherever it runs, even before the first file is done."""
    halo, core = (0xA8, 0xD0, 0xF0), (0xFF, 0xFF, 0xFF)
    rows = []
    for y in range(HEIGHT):
        row = []
        for x in range(HIGHLIGHT_WIDTH):
            u = (x + 0.5) / HIGHLIGHT_WIDTH            # 0..1 across the band
            a_halo = 0.60 * math.sin(math.pi * u) ** 2  # smooth rise and fall, no hard edge
            a_core = 0.60 * math.sin(math.pi * u) ** 6
            alpha = a_core + a_halo * (1 - a_core)     # the core laid over the halo
            colour = tuple(int(round((c * a_core + h * a_halo * (1 - a_core)) / alpha)) if alpha else 255
                           for c, h in zip(core, halo))
            row.append(colour + (int(round(alpha * 255)),))
        rows.append(row)
    return rows


def main():
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "images")
    os.makedirs(folder, exist_ok=True)
    images = {
        # done: light at the top, deeper below; the caps give the bar a slight rim
        "progress_done.png": (STRIP_WIDTH, strip((0xC4, 0xE1, 0xF6), (0x9C, 0xCB, 0xEE),
                                                 (0x7F, 0xB7, 0xE4), (0x6A, 0xA3, 0xD4),
                                                 (0x5C, 0x96, 0xC9))),
        # remaining: nearly white with a hint of the same blue
        "progress_remaining.png": (STRIP_WIDTH, strip((0xFB, 0xFD, 0xFF), (0xF2, 0xF7, 0xFB),
                                                      (0xE6, 0xEF, 0xF6), (0xD9, 0xE6, 0xF0),
                                                      (0xD9, 0xE6, 0xF0))),
        "progress_highlight.png": (HIGHLIGHT_WIDTH, highlight()),
    }
    for name, (width, rows) in images.items():
        with open(os.path.join(folder, name), "wb") as out:
            out.write(png_bytes(width, HEIGHT, rows))


if __name__ == "__main__":
    main()
