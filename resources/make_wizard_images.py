#!/usr/bin/env python3
"""Draws the pictures of the search wizard: the welcome picture and the small picture of its
banner, the 13 x 13 check boxes of the result list, and the tool bar's strip of two 16 x 16
buttons ("Check all files", "Uncheck all files").

Run from anywhere: `python3 resources/make_wizard_images.py`. It rewrites the PNG files in
resources/wizard/; the committed PNGs are its output. Only the standard library is used.

The banner pictures are anti-aliased shapes (coverage by 4 x 4 sub-samples) on a transparent
ground, drawn in the calm blues of the progress strips. The check boxes are opaque, pixel by
pixel, so that the list shows them exactly as drawn. The tool bar strip is opaque too, on
magenta 0xFF00FF, the colour the program makes transparent; its edges are hard so that no
half-magenta pixel is left around a button.
"""
import math
import os
import struct
import zlib

BLUE_1 = (0xC4, 0xE1, 0xF6)
BLUE_2 = (0x9C, 0xCB, 0xEE)
BLUE_3 = (0x7F, 0xB7, 0xE4)
BLUE_4 = (0x5C, 0x96, 0xC9)
DEEP = (0x3A, 0x70, 0xA6)
GREEN = (0x4F, 0xA8, 0x6B)
AMBER = (0xE8, 0xB2, 0x4A)
AMBER_DEEP = (0xB9, 0x83, 0x26)
INK = (0x2E, 0x3D, 0x4D)
SLATE = (0x7D, 0x8C, 0x9C)
WHITE = (0xFF, 0xFF, 0xFF)
MAGENTA = (0xFF, 0x00, 0xFF)

# The check box of the result list.
BOX_BORDER = (0x4A, 0x6A, 0x8C)
BOX_TOP = (0xF4, 0xF7, 0xFA)
BOX_BOTTOM = (0xDD, 0xE6, 0xEF)
CHECK_INK = (0x1F, 0x4E, 0x7A)

SUB = 4  # sub-samples per pixel and axis for the anti-aliased pictures


def png_bytes(width, height, pixels):
    """pixels: height rows of width (r, g, b, a) tuples -> the bytes of an RGBA PNG."""
    raw = bytearray()
    for row in pixels:
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


# ---------------------------------------------------------------------------------------------
# Anti-aliased pictures: shapes are tests of a point, painted in order over each other.


class Picture:
    def __init__(self, width, height):
        self.width, self.height = width, height
        # straight (not premultiplied) colour and coverage per pixel
        self.pixels = [[(0, 0, 0, 0.0)] * width for _ in range(height)]

    def paint(self, inside, colour, opacity=1.0):
        """inside(x, y) -> bool for a point in pixel units; colour a tuple or colour(x, y)."""
        for py in range(self.height):
            for px in range(self.width):
                hits = 0
                for sy in range(SUB):
                    for sx in range(SUB):
                        if inside(px + (sx + 0.5) / SUB, py + (sy + 0.5) / SUB):
                            hits += 1
                if not hits:
                    continue
                a = opacity * hits / (SUB * SUB)
                c = colour(px + 0.5, py + 0.5) if callable(colour) else colour
                r0, g0, b0, a0 = self.pixels[py][px]
                out = a + a0 * (1 - a)
                blend = tuple((ci * a + bi * a0 * (1 - a)) / out for ci, bi in zip(c, (r0, g0, b0)))
                self.pixels[py][px] = blend + (out,)

    def rows(self):
        return [[(int(round(r)), int(round(g)), int(round(b)), int(round(a * 255))) for r, g, b, a in row]
                for row in self.pixels]


def rounded_rect(x0, y0, x1, y1, radius):
    def inside(x, y):
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        cx = min(max(x, x0 + radius), x1 - radius)
        cy = min(max(y, y0 + radius), y1 - radius)
        return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2
    return inside


def circle(cx, cy, radius):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def ring(cx, cy, outer, inner):
    return lambda x, y: inner ** 2 <= (x - cx) ** 2 + (y - cy) ** 2 <= outer ** 2


def segment(ax, ay, bx, by, half_width):
    """A thick line with round ends."""
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy

    def inside(x, y):
        t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / length2))
        return (x - ax - t * dx) ** 2 + (y - ay - t * dy) ** 2 <= half_width ** 2
    return inside


def wave(x0, x1, centre, amplitude, period, phase, half_width):
    """A sine curve from x0 to x1 drawn as a line of the given half width with round ends: the
    curve is followed as a chain of short segments."""
    k = 2 * math.pi / period
    steps = max(8, int((x1 - x0) * 2))
    points = [(x0 + (x1 - x0) * i / steps, centre + amplitude * math.sin(k * (x0 + (x1 - x0) * i / steps) + phase))
              for i in range(steps + 1)]
    pieces = [segment(ax, ay, bx, by, half_width) for (ax, ay), (bx, by) in zip(points, points[1:])]
    top, bottom = centre - amplitude - half_width, centre + amplitude + half_width

    def inside(x, y):
        if not (x0 - half_width <= x <= x1 + half_width and top <= y <= bottom):
            return False
        return any(piece(x, y) for piece in pieces)
    return inside


def vertical_shade(top, bottom, y0, y1):
    return lambda x, y: mix(top, bottom, min(1.0, max(0.0, (y - y0) / (y1 - y0))))


def welcome_picture():
    """Two channels that run together into one: a left and a right wave on the left, a single
    wave leaving a funnel on the right."""
    w, h = 150, 46
    p = Picture(w, h)
    # the two source channels
    p.paint(wave(4, 62, 13, 6, 22, 0.0, 1.6), BLUE_4)
    p.paint(wave(4, 62, 33, 6, 17, 1.3, 1.6), GREEN)
    # the funnel that joins them
    def funnel(x, y):
        if not (66 <= x <= 96):
            return False
        t = (x - 66) / 30
        half = 17 * (1 - t) + 7 * t
        return abs(y - 23) <= half
    p.paint(funnel, vertical_shade(BLUE_1, BLUE_3, 6, 40))
    def funnel_edge(x, y):
        if not (66 <= x <= 96):
            return False
        t = (x - 66) / 30
        half = 17 * (1 - t) + 7 * t
        return half - 1.3 <= abs(y - 23) <= half
    p.paint(funnel_edge, DEEP)
    # the one channel that comes out
    p.paint(wave(100, 146, 23, 7, 20, 0.6, 1.9), DEEP)
    return w, h, p.rows()


def small_picture():
    """A folder searched with a magnifying glass, a small wave in the glass."""
    w = h = 40
    p = Picture(w, h)
    # folder: back, tab and front
    p.paint(rounded_rect(3, 9, 31, 31, 2.0), AMBER_DEEP)
    p.paint(rounded_rect(3, 6, 15, 12, 1.5), AMBER_DEEP)
    p.paint(rounded_rect(3, 13, 31, 31, 2.0), vertical_shade((0xF6, 0xD3, 0x82), AMBER, 13, 31))
    # the glass
    p.paint(segment(29, 29, 36, 36, 2.6), INK)
    p.paint(circle(23, 23, 9.5), WHITE, 0.92)
    p.paint(ring(23, 23, 10.0, 7.8), INK)
    p.paint(wave(16.5, 29.5, 23, 2.6, 7, 0.0, 1.0), BLUE_4)
    return w, h, p.rows()


# ---------------------------------------------------------------------------------------------
# Pixel pictures: opaque, hard edges.


def check_box(checked):
    """13 x 13: a 1-pixel border, a light shaded inside and, when checked, a bold tick."""
    size = 13
    rows = []
    tick = set()
    if checked:
        # a tick three pixels thick from (3, 6) down to (5, 8), then up to (9, 3)
        for x, y in [(3, 5), (3, 6), (3, 7), (4, 6), (4, 7), (4, 8), (5, 7), (5, 8), (5, 9),
                     (6, 6), (6, 7), (6, 8), (7, 5), (7, 6), (7, 7), (8, 4), (8, 5), (8, 6),
                     (9, 3), (9, 4), (9, 5)]:
            tick.add((x, y))
    for y in range(size):
        row = []
        for x in range(size):
            if x in (0, size - 1) or y in (0, size - 1):
                colour = BOX_BORDER
            elif (x, y) in tick:
                colour = CHECK_INK
            else:
                colour = mix(BOX_TOP, BOX_BOTTOM, (y - 1) / (size - 3))
            row.append(colour + (255,))
        rows.append(row)
    return size, size, rows


def tool_strip():
    """Two 16 x 16 buttons side by side on magenta: two ticked boxes, two empty boxes."""
    w, h = 32, 16
    grid = [[MAGENTA] * w for _ in range(h)]

    def box(left, top, checked):
        size = 9
        for y in range(top, top + size):
            for x in range(left, left + size):
                edge = x in (left, left + size - 1) or y in (top, top + size - 1)
                grid[y][x] = BOX_BORDER if edge else mix(BOX_TOP, BOX_BOTTOM, (y - top) / (size - 1))
        if checked:
            # a tick two pixels thick: down from (2, 3) to (4, 6), then up to (7, 2)
            for dx, dy in [(2, 3), (2, 4), (3, 4), (3, 5), (4, 5), (4, 6), (5, 4), (5, 5), (6, 3), (6, 4),
                           (7, 2), (7, 3)]:
                grid[top + dy][left + dx] = CHECK_INK

    # button 0, "Check all files": a ticked box behind another
    box(1, 1, True)
    box(6, 6, True)
    # button 1, "Uncheck all files": the same two boxes, empty
    box(16 + 1, 1, False)
    box(16 + 6, 6, False)
    return w, h, [[c + (255,) for c in row] for row in grid]


def main():
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "wizard")
    os.makedirs(folder, exist_ok=True)
    images = {
        "wizard_welcome.png": welcome_picture(),
        "wizard_small.png": small_picture(),
        "wizard_check_on.png": check_box(True),
        "wizard_check_off.png": check_box(False),
        "wizard_tools.png": tool_strip(),
    }
    for name, (width, height, rows) in images.items():
        with open(os.path.join(folder, name), "wb") as out:
            out.write(png_bytes(width, height, rows))


if __name__ == "__main__":
    main()
