#!/usr/bin/env python3
"""Draws the skin of the main window: the work view's background, the action buttons in their
normal, hot and pressed looks (the greyed look is made by the program from the normal one),
the getting-started panel's pictures, the dialogs' header picture and the program icon.

Run from anywhere: `python3 resources/make_skin_images.py`. It rewrites the PNG files in
resources/skin/ and the program icon as SVG; the committed files are its output. Only the standard library is used: shapes
are signed distance functions, anti-aliased by their distance to the edge.

Palette: the calm blues of the progress strips (0xC4E1F6 ... 0x5C96C9) and of the output box
RGB(0xCE, 0xE2, 0xEF), the popup-menu frame's greys RGB(0x8D, 0x91, 0x99), RGB(0xE1, 0xE3,
0xE7), RGB(0xFB, 0xFB, 0xFB), and a dark slate for outlines so that every icon reads on white.
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
BOX = (0xCE, 0xE2, 0xEF)
FRAME = (0xC3, 0xD9, 0xE7)
BORDER = (0x8D, 0x91, 0x99)
LINE = (0x9F, 0xB3, 0xC4)
GUTTER = (0xE1, 0xE3, 0xE7)
FACE = (0xFB, 0xFB, 0xFB)
INK = (0x2E, 0x3D, 0x4D)
WHITE = (0xFF, 0xFF, 0xFF)
SLATE = (0x7D, 0x8C, 0x9C)
SLATE_DEEP = (0x55, 0x63, 0x72)


# ---------------------------------------------------------------------------------------------
# Canvas and PNG


class Canvas:
    """Straight RGBA pixels as floats 0..1, drawn with "over" compositing."""

    def __init__(self, width, height, colour=(0, 0, 0), alpha=0.0):
        self.w, self.h = width, height
        r, g, b = (c / 255 for c in colour)
        self.px = [[r, g, b, alpha] for _ in range(width * height)]

    def blend(self, x, y, colour, alpha):
        if alpha <= 0 or not (0 <= x < self.w and 0 <= y < self.h):
            return
        p = self.px[y * self.w + x]
        r, g, b = (c / 255 for c in colour)
        out_a = alpha + p[3] * (1 - alpha)
        if out_a <= 0:
            return
        for i, c in enumerate((r, g, b)):
            p[i] = (c * alpha + p[i] * p[3] * (1 - alpha)) / out_a
        p[3] = out_a

    def fill(self, sdf, bbox, paint, opacity=1.0):
        """paint(x, y) -> ((r, g, b), alpha); the shape's edge is where sdf is 0."""
        x0, y0, x1, y1 = bbox
        for y in range(max(0, int(y0) - 1), min(self.h, int(math.ceil(y1)) + 2)):
            for x in range(max(0, int(x0) - 1), min(self.w, int(math.ceil(x1)) + 2)):
                cx, cy = x + 0.5, y + 0.5
                cover = min(1.0, max(0.0, 0.5 - sdf(cx, cy)))
                if cover > 0:
                    colour, alpha = paint(cx, cy)
                    self.blend(x, y, colour, alpha * cover * opacity)

    def fill_mask(self, mask, paint, opacity=1.0):
        for (x, y), cover in mask.items():
            colour, alpha = paint(x + 0.5, y + 0.5)
            self.blend(x, y, colour, alpha * cover * opacity)

    def paste(self, other, left, top):
        for y in range(other.h):
            for x in range(other.w):
                r, g, b, a = other.px[y * other.w + x]
                self.blend(left + x, top + y, (r * 255, g * 255, b * 255), a)

    def png(self):
        raw = bytearray()
        for y in range(self.h):
            raw.append(0)
            for x in range(self.w):
                r, g, b, a = self.px[y * self.w + x]
                raw += bytes(int(round(max(0.0, min(1.0, v)) * 255)) for v in (r, g, b, a))

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

        header = struct.pack(">IIBBBBB", self.w, self.h, 8, 6, 0, 0, 0)
        return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
                chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def solid(colour, alpha=1.0):
    return lambda x, y: (colour, alpha)


def mix(a, b, t):
    t = max(0.0, min(1.0, t))
    return tuple(x + (y - x) * t for x, y in zip(a, b))


def vgrad(top, bottom, y0, y1, alpha=1.0):
    return lambda x, y: (mix(top, bottom, (y - y0) / max(1e-6, y1 - y0)), alpha)


# ---------------------------------------------------------------------------------------------
# Shapes (signed distances in pixels, negative inside)


def rrect(x0, y0, x1, y1, r):
    cx, cy, hw, hh = (x0 + x1) / 2, (y0 + y1) / 2, (x1 - x0) / 2, (y1 - y0) / 2

    def d(x, y):
        qx, qy = abs(x - cx) - hw + r, abs(y - cy) - hh + r
        return math.hypot(max(qx, 0), max(qy, 0)) + min(max(qx, qy), 0) - r
    return d, (x0, y0, x1, y1)


def ring(shape, width):
    d, box = shape
    return (lambda x, y: abs(d(x, y) + width / 2) - width / 2), box


def circle(cx, cy, r):
    return (lambda x, y: math.hypot(x - cx, y - cy) - r), (cx - r, cy - r, cx + r, cy + r)


def segment_distance(x, y, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / max(1e-9, dx * dx + dy * dy)))
    return math.hypot(x - ax - t * dx, y - ay - t * dy)


def polygon(points):
    """Any simple polygon: distance to its edges, negative inside (even-odd rule)."""
    xs, ys = [p[0] for p in points], [p[1] for p in points]

    def d(x, y):
        best, inside = 1e9, False
        n = len(points)
        for i in range(n):
            ax, ay = points[i]
            bx, by = points[(i + 1) % n]
            best = min(best, segment_distance(x, y, ax, ay, bx, by))
            if (ay > y) != (by > y) and x < ax + (y - ay) * (bx - ax) / (by - ay):
                inside = not inside
        return -best if inside else best
    return d, (min(xs), min(ys), max(xs), max(ys))


def union(*shapes):
    return (lambda x, y: min(s[0](x, y) for s in shapes),
            (min(s[1][0] for s in shapes), min(s[1][1] for s in shapes),
             max(s[1][2] for s in shapes), max(s[1][3] for s in shapes)))


def subtract(a, b):
    return (lambda x, y: max(a[0](x, y), -b[0](x, y))), a[1]


def stroke_mask(points, width, w, h):
    """Coverage of a thick polyline with round caps, each pixel once however many segments."""
    mask = {}
    r = width / 2
    for (ax, ay), (bx, by) in zip(points, points[1:]):
        for y in range(max(0, int(min(ay, by) - r) - 1), min(h, int(max(ay, by) + r) + 2)):
            for x in range(max(0, int(min(ax, bx) - r) - 1), min(w, int(max(ax, bx) + r) + 2)):
                cover = min(1.0, max(0.0, 0.5 - (segment_distance(x + 0.5, y + 0.5, ax, ay, bx, by) - r)))
                if cover > mask.get((x, y), 0):
                    mask[(x, y)] = cover
    return mask


def draw(canvas, shape, paint, opacity=1.0):
    canvas.fill(shape[0], shape[1], paint, opacity)


# ---------------------------------------------------------------------------------------------
# Icons, drawn into a square of `s` pixels at (ox, oy)


def icon_document(c, ox, oy, s, fill=WHITE):
    u = s / 28
    body = polygon([(ox + 6 * u, oy + 2 * u), (ox + 17 * u, oy + 2 * u), (ox + 23 * u, oy + 8 * u),
                    (ox + 23 * u, oy + 26 * u), (ox + 6 * u, oy + 26 * u)])
    draw(c, body, solid(fill))
    draw(c, ring(body, 1.4 * u), solid(INK))
    fold = polygon([(ox + 17 * u, oy + 2 * u), (ox + 23 * u, oy + 8 * u), (ox + 17 * u, oy + 8 * u)])
    draw(c, fold, solid(BLUE_1))
    draw(c, ring(fold, 1.2 * u), solid(INK))
    for i in range(3):
        y = oy + (13 + 4 * i) * u
        c.fill_mask(stroke_mask([(ox + 10 * u, y), (ox + 19 * u, y)], 1.3 * u, c.w, c.h), solid(LINE))


def badge(c, cx, cy, r, colour):
    draw(c, circle(cx, cy, r), solid(colour))
    draw(c, ring(circle(cx, cy, r), 1.0), solid(WHITE))


def icon_add(c, ox, oy, s):
    icon_document(c, ox, oy, s)
    u = s / 28
    cx, cy, r = ox + 21 * u, oy + 21 * u, 6.5 * u
    badge(c, cx, cy, r, (0x4C, 0x9A, 0x5E))
    for a, b in (((cx - 3.4 * u, cy), (cx + 3.4 * u, cy)), ((cx, cy - 3.4 * u), (cx, cy + 3.4 * u))):
        c.fill_mask(stroke_mask([a, b], 1.8 * u, c.w, c.h), solid(WHITE))


def icon_remove(c, ox, oy, s):
    icon_document(c, ox, oy, s)
    u = s / 28
    cx, cy, r = ox + 21 * u, oy + 21 * u, 6.5 * u
    badge(c, cx, cy, r, (0xC0, 0x5A, 0x4E))
    c.fill_mask(stroke_mask([(cx - 3.4 * u, cy), (cx + 3.4 * u, cy)], 1.8 * u, c.w, c.h), solid(WHITE))


def icon_clear(c, ox, oy, s):
    u = s / 28
    icon_document(c, ox - 3 * u, oy + 1 * u, s * 0.9, fill=FACE)
    icon_document(c, ox + 2 * u, oy - 1 * u, s * 0.9)
    cx, cy, r = ox + 21 * u, oy + 21 * u, 6.5 * u
    badge(c, cx, cy, r, SLATE_DEEP)
    k = 2.6 * u
    c.fill_mask(stroke_mask([(cx - k, cy - k), (cx + k, cy + k)], 1.8 * u, c.w, c.h), solid(WHITE))
    c.fill_mask(stroke_mask([(cx - k, cy + k), (cx + k, cy - k)], 1.8 * u, c.w, c.h), solid(WHITE))


def gear(cx, cy, r_out, r_in, teeth, hole):
    def d(x, y):
        a = math.atan2(y - cy, x - cx)
        rr = math.hypot(x - cx, y - cy)
        wave = 0.5 + 0.5 * math.cos(a * teeth)
        edge = r_in + (r_out - r_in) * min(1.0, max(0.0, (wave - 0.35) * 3.0))
        return max(rr - edge, hole - rr)
    return d, (cx - r_out, cy - r_out, cx + r_out, cy + r_out)


def icon_options(c, ox, oy, s):
    u = s / 28
    cx, cy = ox + 14 * u, oy + 14 * u
    g = gear(cx, cy, 12 * u, 9 * u, 8, 4 * u)
    draw(c, g, vgrad(BLUE_2, BLUE_4, oy + 2 * u, oy + 26 * u))
    draw(c, ring(g, 1.4 * u), solid(INK))


def folder_shape(ox, oy, w, h):
    tab = polygon([(ox, oy + 0.15 * h), (ox + 0.38 * w, oy + 0.15 * h), (ox + 0.48 * w, oy + 0.3 * h),
                   (ox + w, oy + 0.3 * h), (ox + w, oy + h), (ox, oy + h)])
    return tab


def icon_folder(c, ox, oy, w, h):
    f = folder_shape(ox, oy, w, h)
    draw(c, f, vgrad((0xF6, 0xDE, 0x9C), (0xE6, 0xBE, 0x62), oy, oy + h))
    draw(c, ring(f, 1.2), solid((0x9A, 0x74, 0x2A)))
    front = rrect(ox + 0.6, oy + 0.42 * h, ox + w - 0.6, oy + h - 0.6, 1.0)
    draw(c, front, vgrad((0xFB, 0xE9, 0xB4), (0xF0, 0xCC, 0x76), oy + 0.42 * h, oy + h), 0.9)


def wave_points(x0, x1, yc, amp, periods, phase, n=60, taper_from=None):
    pts = []
    for i in range(n + 1):
        t = i / n
        x = x0 + (x1 - x0) * t
        a = amp
        if taper_from is not None and t > taper_from:
            a = amp * (1 - (t - taper_from) / (1 - taper_from))
        pts.append((x, yc + a * math.sin(2 * math.pi * periods * t + phase)))
    return pts


def logo_strokes(ox, oy, s):
    """The mark's lines: two channels that wiggle towards a join and the one line that leaves
    it, as (points, width) polylines with round caps, in a square of `s` pixels at (ox, oy)."""
    u = s / 48
    width = 3.4 * u
    mid = oy + 24 * u
    join = 27.0
    strokes = []
    for lane, phase in ((-10, 0.0), (10, math.pi)):
        pts = []
        for i in range(49):
            t = i / 48
            x = ox + (7 + (join - 7) * t) * u
            ease = t * t * (3 - 2 * t)
            wiggle = 2.2 * u * (1 - ease) * math.sin(2 * math.pi * 1.0 * t + phase)
            pts.append((x, mid + lane * u * (1 - ease) + wiggle))
        strokes.append((pts, width))
    # the mono line grows out of the join without a kink: its swing starts at nothing
    merged = []
    for i in range(41):
        t = i / 40
        swing = 4.6 * u * min(1.0, t * 2.5) * math.sin(2 * math.pi * 1.1 * t)
        merged.append((ox + (join + (42 - join) * t) * u, mid - swing))
    strokes.append((merged, width * 1.3))
    return strokes


def logo(c, ox, oy, s, face=True):
    """Two channels that meet in one: the program's mark."""
    u = s / 48
    if face:
        square = rrect(ox + 1 * u, oy + 1 * u, ox + 47 * u, oy + 47 * u, 10 * u)
        draw(c, square, vgrad(BLUE_3, DEEP, oy, oy + s))
        draw(c, rrect(ox + 3 * u, oy + 3 * u, ox + 45 * u, oy + 22 * u, 8 * u), vgrad(WHITE, BLUE_3, oy, oy + 24 * u, 0.35))
    lanes = {}
    for pts, width in logo_strokes(ox, oy, s):
        for key, cover in stroke_mask(pts, width, c.w, c.h).items():
            lanes[key] = max(lanes.get(key, 0), cover)
    c.fill_mask(lanes, solid(WHITE))


def logo_svg():
    """The program icon as a scalable picture: the same face and lines as `logo`, as vectors."""
    def hex_colour(rgb):
        return "#%02x%02x%02x" % rgb

    lines = [" ".join("%.2f,%.2f" % p for p in pts) for pts, _ in logo_strokes(0, 0, 48)]
    widths = [width for _, width in logo_strokes(0, 0, 48)]
    polylines = "\n".join(
        f'  <polyline points="{pts}" stroke-width="{w:.2f}"/>' for pts, w in zip(lines, widths))
    return f"""<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" width="48" height="48" viewBox="0 0 48 48">
  <defs>
    <linearGradient id="face" x1="0" y1="0" x2="0" y2="48" gradientUnits="userSpaceOnUse">
      <stop offset="0" stop-color="{hex_colour(BLUE_3)}"/>
      <stop offset="1" stop-color="{hex_colour(DEEP)}"/>
    </linearGradient>
    <linearGradient id="gloss" x1="0" y1="0" x2="0" y2="24" gradientUnits="userSpaceOnUse">
      <stop offset="0" stop-color="{hex_colour(WHITE)}"/>
      <stop offset="1" stop-color="{hex_colour(BLUE_3)}"/>
    </linearGradient>
  </defs>
  <rect x="1" y="1" width="46" height="46" rx="10" fill="url(#face)"/>
  <rect x="3" y="3" width="42" height="19" rx="8" fill="url(#gloss)" fill-opacity="0.35"/>
  <g fill="none" stroke="{hex_colour(WHITE)}" stroke-linecap="round" stroke-linejoin="round">
{polylines}
  </g>
</svg>
"""


# ---------------------------------------------------------------------------------------------
# Button faces


def toolbar_face(c, state):
    if state == "normal":
        return
    r = rrect(1, 1, c.w - 1, c.h - 1, 5)
    if state == "hot":
        draw(c, r, vgrad(WHITE, (0xE6, 0xF1, 0xFA), 1, c.h))
        draw(c, ring(r, 1), solid(BLUE_2))
    else:
        draw(c, r, vgrad((0xCF, 0xE3, 0xF2), (0xE4, 0xEF, 0xF8), 1, c.h))
        draw(c, ring(r, 1), solid(BLUE_4))


def toolbar_button(icon, state, width=76, height=56, drop_down=False):
    c = Canvas(width, height)
    toolbar_face(c, state)
    shift = 1 if state == "pressed" else 0
    icon_left = (76 - 28) // 2 if not drop_down else (76 - 28) // 2 + 1
    icon(c, icon_left, 5 + shift, 28)
    if drop_down:
        x, y = width - 12, 20 + shift
        draw(c, polygon([(x - 3.5, y - 1.5), (x + 3.5, y - 1.5), (x, y + 2.5)]), solid(INK))
    return c


def small_face(c, state):
    r = rrect(0.5, 0.5, c.w - 0.5, c.h - 0.5, 3)
    top, bottom, edge = WHITE, GUTTER, LINE
    if state == "hot":
        top, bottom, edge = WHITE, (0xDD, 0xEB, 0xF5), BLUE_3
    elif state == "pressed":
        top, bottom, edge = (0xC9, 0xDE, 0xEE), (0xDD, 0xEB, 0xF5), BLUE_4
    draw(c, r, vgrad(top, bottom, 0, c.h))
    draw(c, ring(r, 1), solid(edge))


def browse_button(state):
    c = Canvas(28, 22)
    small_face(c, state)
    s = 1 if state == "pressed" else 0
    icon_folder(c, 6, 5 + s, 16, 12)
    for i in range(3):
        draw(c, circle(10 + 4 * i, 12.5 + s, 1.1), solid(INK))
    return c


def open_folder_button(state):
    c = Canvas(28, 22)
    small_face(c, state)
    s = 1 if state == "pressed" else 0
    icon_folder(c, 5, 6 + s, 15, 11)
    arrow = [(14, 13 + s), (22, 5 + s)]
    c.fill_mask(stroke_mask(arrow, 1.8, c.w, c.h), solid(DEEP))
    draw(c, polygon([(23.5, 3.5 + s), (23.5, 9.5 + s), (17.5, 3.5 + s)]), solid(DEEP))
    return c


def pill_button(width, height, colours, state, glyph):
    c = Canvas(width, height)
    top, bottom, edge = colours
    if state == "hot":
        top, bottom = mix(top, WHITE, 0.18), mix(bottom, WHITE, 0.12)
    elif state == "pressed":
        top, bottom = mix(bottom, (0, 0, 0), 0.08), mix(top, (0, 0, 0), 0.05)
    r = rrect(1, 1, width - 1, height - 1, height / 2 - 1)
    draw(c, r, vgrad(top, bottom, 1, height - 1))
    gloss = rrect(4, 3, width - 4, height / 2, height / 2 - 4)
    draw(c, gloss, vgrad(WHITE, WHITE, 0, 1, 0.22 if state != "pressed" else 0.1))
    draw(c, ring(r, 1.2), solid(edge))
    s = 1 if state == "pressed" else 0
    glyph(c, height, s)
    return c


def glyph_convert(c, height, s):
    cx, cy = height / 2 + 4, height / 2 + s
    draw(c, circle(cx, cy, height / 2 - 9), solid(WHITE, 0.22))
    draw(c, polygon([(cx - 6, cy - 9), (cx + 10, cy), (cx - 6, cy + 9)]), solid(WHITE))


def glyph_stop(c, height, s):
    cx, cy = height / 2 + 4, height / 2 + s
    draw(c, circle(cx, cy, height / 2 - 9), solid(WHITE, 0.22))
    draw(c, rrect(cx - 7, cy - 7, cx + 7, cy + 7, 2), solid(WHITE))


def glyph_list(c, height, s):
    cx, cy = height / 2 + 2, height / 2 + s
    for i in range(3):
        y = cy - 6 + 6 * i
        draw(c, circle(cx - 7, y, 1.8), solid(WHITE))
        c.fill_mask(stroke_mask([(cx - 3, y), (cx + 9, y)], 2.2, c.w, c.h), solid(WHITE))


def check_box(checked, state, width=320, height=18):
    c = Canvas(width, height)
    box = rrect(1.5, 1.5, 16.5, 16.5, 2.5)
    top, bottom, edge = WHITE, (0xEE, 0xF1, 0xF4), BORDER
    if state == "hot":
        top, bottom, edge = WHITE, (0xDD, 0xEB, 0xF5), BLUE_4
    elif state == "pressed":
        top, bottom, edge = (0xC9, 0xDE, 0xEE), (0xDD, 0xEB, 0xF5), DEEP
    draw(c, box, vgrad(top, bottom, 1, 17))
    draw(c, ring(box, 1), solid(edge))
    if checked:
        c.fill_mask(stroke_mask([(5, 9), (8, 12.5), (13.5, 5.5)], 2.0, c.w, c.h), solid(DEEP))
    return c


# ---------------------------------------------------------------------------------------------
# Work view background (740 x 534). The file list covers (9, 75)-(731, 444) and the output box
# (118, 464)-(453, 484); both are windows, the picture only frames them.


def background():
    w, h = 740, 534
    c = Canvas(w, h)
    draw(c, rrect(0, 0, w, h, 0), vgrad((0xF3, 0xF7, 0xFA), (0xE2, 0xEC, 0xF3), 0, h))
    # banner
    draw(c, rrect(0, 0, w, 67, 0), vgrad(WHITE, (0xDC, 0xEA, 0xF4), 0, 67))
    for k, alpha in ((0, 0.16), (1, 0.10), (2, 0.07)):
        pts = wave_points(300, w + 10, 44 + 5 * k, 7 - k, 2.2 + 0.4 * k, k * 1.3, 160)
        c.fill_mask(stroke_mask(pts, 2.2, w, h), solid(BLUE_3, alpha))
    draw(c, rrect(0, 66, w, 67, 0), solid((0xB9, 0xD2, 0xE4)))
    logo(c, 12, 10, 46)
    # frame of the file list
    draw(c, ring(rrect(8, 74, 732, 445, 0), 1), solid(LINE))
    # the lower panel: output folder, its buttons, the overall bar, convert
    panel = rrect(8.5, 451.5, 731.5, 525.5, 6)
    draw(c, panel, vgrad((0xFC, 0xFD, 0xFE), (0xF1, 0xF6, 0xFA), 452, 526))
    draw(c, ring(panel, 1), solid(FRAME))
    draw(c, ring(rrect(117, 463, 454, 485, 0), 1), solid(LINE))
    return c


def header_picture():
    """The options and report dialogs' header picture (shown scaled to the header's height)."""
    w, h = 640, 68
    c = Canvas(w, h)
    draw(c, rrect(0, 0, w, h, 0), vgrad(WHITE, (0xDC, 0xEA, 0xF4), 0, h))
    for k, alpha in ((0, 0.18), (1, 0.11), (2, 0.07)):
        pts = wave_points(200, w + 10, 40 + 6 * k, 8 - k, 2.4 + 0.5 * k, k * 1.1, 150)
        c.fill_mask(stroke_mask(pts, 2.4, w, h), solid(BLUE_3, alpha))
    draw(c, rrect(0, h - 1, w, h, 0), solid((0xB9, 0xD2, 0xE4)))
    logo(c, 12, 10, 48)
    return c


def step_picture(kind):
    c = Canvas(48, 48)
    draw(c, circle(24, 24, 23), vgrad(WHITE, (0xE4, 0xEF, 0xF8), 1, 47))
    draw(c, ring(circle(24, 24, 23), 1.2), solid(FRAME))
    if kind == "add":
        icon_add(c, 10, 10, 28)
    elif kind == "folder":
        icon_folder(c, 11, 13, 26, 21)
    else:
        draw(c, circle(24, 24, 13), vgrad(BLUE_3, DEEP, 11, 37))
        draw(c, polygon([(20, 17), (31, 24), (20, 31)]), solid(WHITE))
    return c


def program_icon(size):
    c = Canvas(size, size)
    logo(c, 0, 0, size)
    return c


def main():
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "skin")
    os.makedirs(folder, exist_ok=True)
    images = {"work_view_background.png": background(), "header.png": header_picture(),
              "program_icon_256.png": program_icon(256), "program_icon_48.png": program_icon(48)}
    for state in ("normal", "hot", "pressed"):
        images[f"add_{state}.png"] = toolbar_button(icon_add, state, width=86, drop_down=True)
        images[f"remove_{state}.png"] = toolbar_button(icon_remove, state)
        images[f"clear_{state}.png"] = toolbar_button(icon_clear, state)
        images[f"options_{state}.png"] = toolbar_button(icon_options, state)
        images[f"browse_{state}.png"] = browse_button(state)
        images[f"open_folder_{state}.png"] = open_folder_button(state)
        images[f"convert_{state}.png"] = pill_button(172, 54, (BLUE_3, DEEP, (0x2F, 0x5E, 0x8E)), state,
                                                     glyph_convert)
        images[f"stop_{state}.png"] = pill_button(172, 54, (SLATE, SLATE_DEEP, (0x45, 0x51, 0x5E)), state,
                                                  glyph_stop)
        images[f"show_list_{state}.png"] = pill_button(210, 40, (BLUE_3, DEEP, (0x2F, 0x5E, 0x8E)), state,
                                                       glyph_list)
        images[f"check_off_{state}.png"] = check_box(False, state)
        images[f"check_on_{state}.png"] = check_box(True, state)
    for kind in ("add", "folder", "convert"):
        images[f"step_{kind}.png"] = step_picture(kind)
    for name, canvas in images.items():
        with open(os.path.join(folder, name), "wb") as out:
            out.write(canvas.png())
    with open(os.path.join(folder, "program_icon.svg"), "w", encoding="utf-8") as out:
        out.write(logo_svg())


if __name__ == "__main__":
    main()
