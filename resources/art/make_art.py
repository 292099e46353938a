#!/usr/bin/env python3
"""Generates every PNG skin, icon and cursor of the main program.

One flat style: a calm blue accent on light greys and white, soft rounded corners,
white glyphs on the caption band. Shapes are drawn from signed distances, so edges are
anti-aliased without supersampling. PNGs are 32-bit RGBA with straight (not premultiplied)
alpha; the program premultiplies what it blends.

Run:  python3 resources/art/make_art.py      (writes resources/art/png, ico, cur)
Python 3 standard library only.
"""
import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

# Palette
ACCENT = (36, 118, 196)
ACCENT_DARK = (22, 82, 148)
ACCENT_LIGHT = (120, 176, 230)
ACCENT_PALE = (222, 236, 250)
BG = (244, 246, 249)
WHITE = (255, 255, 255)
BORDER = (196, 204, 214)
BORDER_DARK = (150, 160, 172)
GREY = (170, 176, 184)
GREY_LIGHT = (232, 235, 239)
TEXT = (96, 104, 114)
GREEN = (46, 160, 90)


class Canvas:
    def __init__(self, w, h, fill=(0, 0, 0, 0)):
        self.w, self.h = w, h
        self.px = [list(map(float, fill)) for _ in range(w * h)]

    def blend(self, x, y, rgb, a):
        """Source-over in straight alpha; a in 0..1 (already scaled by coverage)."""
        if a <= 0 or x < 0 or y < 0 or x >= self.w or y >= self.h:
            return
        p = self.px[y * self.w + x]
        da = p[3] / 255.0
        oa = a + da * (1 - a)
        if oa <= 0:
            return
        for i in range(3):
            p[i] = (rgb[i] * a + p[i] * da * (1 - a)) / oa
        p[3] = oa * 255.0

    def shape(self, sdf, color, alpha=1.0, bbox=None):
        """Fills where sdf(x+0.5, y+0.5) < 0, with a one-pixel soft edge. color may be a
        function of (x, y) giving an RGB tuple."""
        x0, y0, x1, y1 = bbox or (0, 0, self.w, self.h)
        x0, y0 = max(0, int(x0) - 1), max(0, int(y0) - 1)
        x1, y1 = min(self.w, int(math.ceil(x1)) + 1), min(self.h, int(math.ceil(y1)) + 1)
        for y in range(y0, y1):
            for x in range(x0, x1):
                d = sdf(x + 0.5, y + 0.5)
                cov = min(1.0, max(0.0, 0.5 - d))
                if cov > 0:
                    c = color(x, y) if callable(color) else color
                    self.blend(x, y, c, cov * alpha)

    def crop(self, x, y, w, h):
        c = Canvas(w, h)
        for j in range(h):
            for i in range(w):
                c.px[j * w + i] = list(self.px[(y + j) * self.w + (x + i)])
        return c

    def rows_bgra_bottom_up(self):
        out = bytearray()
        for y in range(self.h - 1, -1, -1):
            for x in range(self.w):
                r, g, b, a = self.px[y * self.w + x]
                out += bytes((clamp8(b), clamp8(g), clamp8(r), clamp8(a)))
        return bytes(out)

    def png_bytes(self):
        raw = bytearray()
        for y in range(self.h):
            raw.append(0)
            for x in range(self.w):
                raw += bytes(clamp8(v) for v in self.px[y * self.w + x])

        def chunk(tag, data):
            c = tag + data
            return struct.pack(">I", len(data)) + c + struct.pack(">I", zlib.crc32(c) & 0xFFFFFFFF)

        ihdr = struct.pack(">IIBBBBB", self.w, self.h, 8, 6, 0, 0, 0)
        return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) +
                chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def clamp8(v):
    return max(0, min(255, int(round(v))))


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def vgrad(top, bottom, y0, y1):
    span = max(1.0, float(y1 - y0))
    return lambda x, y: mix(top, bottom, min(1.0, max(0.0, (y - y0) / span)))


# --- signed distance functions ------------------------------------------------------------

def rrect(x0, y0, x1, y1, r):
    cx, cy = (x0 + x1) / 2.0, (y0 + y1) / 2.0
    hx, hy = (x1 - x0) / 2.0 - r, (y1 - y0) / 2.0 - r

    def f(x, y):
        qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
        outside = math.hypot(max(qx, 0), max(qy, 0))
        return outside + min(max(qx, qy), 0) - r
    return f


def ring(sdf, width):
    return lambda x, y: abs(sdf(x, y) + width / 2.0) - width / 2.0


def circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def capsule(ax, ay, bx, by, r):
    def f(x, y):
        px, py, dx, dy = x - ax, y - ay, bx - ax, by - ay
        dd = dx * dx + dy * dy
        t = 0.0 if dd == 0 else max(0.0, min(1.0, (px * dx + py * dy) / dd))
        return math.hypot(px - dx * t, py - dy * t) - r
    return f


def union(*fs):
    return lambda x, y: min(f(x, y) for f in fs)


def polyline(points, r):
    return union(*[capsule(points[i][0], points[i][1], points[i + 1][0], points[i + 1][1], r)
                   for i in range(len(points) - 1)])


def polygon(points):
    """Filled convex or concave polygon (even-odd), distance to the nearest edge."""
    def f(x, y):
        d = float("inf")
        inside = False
        n = len(points)
        for i in range(n):
            ax, ay = points[i]
            bx, by = points[(i + 1) % n]
            px, py, dx, dy = x - ax, y - ay, bx - ax, by - ay
            dd = dx * dx + dy * dy
            t = 0.0 if dd == 0 else max(0.0, min(1.0, (px * dx + py * dy) / dd))
            d = min(d, math.hypot(px - dx * t, py - dy * t))
            if (ay > y) != (by > y) and x < (bx - ax) * (y - ay) / (by - ay) + ax:
                inside = not inside
        return -d if inside else d
    return f


def arc(cx, cy, rad, a0, a1, r, steps=16):
    pts = [(cx + rad * math.cos(a0 + (a1 - a0) * i / steps),
            cy + rad * math.sin(a0 + (a1 - a0) * i / steps)) for i in range(steps + 1)]
    return polyline(pts, r)


# --- a small pixel font for the product name ---------------------------------------------

FONT = {
    "K": ["10001", "10010", "10100", "11000", "10100", "10010", "10001"],
    "V": ["10001", "10001", "10001", "10001", "01010", "01010", "00100"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "Z": ["11111", "00001", "00010", "00100", "01000", "10000", "11111"],
    "U": ["10001", "10001", "10001", "10001", "10001", "10001", "01110"],
    "L": ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    " ": ["000", "000", "000", "000", "000", "000", "000"],
}


def text(c, s, x, y, scale, color, alpha=1.0):
    for ch in s:
        rows = FONT[ch]
        for j, row in enumerate(rows):
            for i, bit in enumerate(row):
                if bit == "1":
                    x0, y0 = x + i * scale, y + j * scale
                    c.shape(rrect(x0, y0, x0 + scale, y0 + scale, scale * 0.18), color, alpha,
                            (x0, y0, x0 + scale, y0 + scale))
        x += (len(rows[0]) + 1) * scale
    return x


def text_width(s, scale):
    return sum((len(FONT[ch][0]) + 1) * scale for ch in s) - scale


# --- glyphs, drawn in a box of size s at (ox, oy) ----------------------------------------

def glyph(c, name, ox, oy, s, color, alpha=1.0):
    k = s / 16.0
    w = max(1.0, 1.1 * k)

    def P(x, y):
        return (ox + x * k, oy + y * k)

    bb = (ox, oy, ox + s, oy + s)
    if name == "close":
        c.shape(union(capsule(*P(4.5, 4.5), *P(11.5, 11.5), w), capsule(*P(11.5, 4.5), *P(4.5, 11.5), w)),
                color, alpha, bb)
    elif name == "minus":
        c.shape(capsule(*P(4, 10), *P(12, 10), w), color, alpha, bb)
    elif name == "help":
        c.shape(union(arc(*P(8, 6.2), 2.9 * k, math.pi * 1.05, math.pi * 2.35, w),
                      capsule(*P(8.6, 8.9), *P(8, 10.2), w)), color, alpha, bb)
        c.shape(circle(*P(8, 12.8), 1.2 * k), color, alpha, bb)
    elif name == "info":
        c.shape(circle(*P(8, 4.5), 1.25 * k), color, alpha, bb)
        c.shape(capsule(*P(8, 7.5), *P(8, 12), w), color, alpha, bb)
    elif name == "check":
        c.shape(polyline([P(3.8, 8.3), P(6.8, 11.2), P(12.2, 5)], w * 1.1), color, alpha, bb)
    elif name == "play":
        c.shape(polygon([P(5.5, 3.5), P(13, 8), P(5.5, 12.5)]), color, alpha, bb)
    elif name == "restore":
        c.shape(arc(*P(8, 8.5), 4.5 * k, -math.pi * 0.1, math.pi * 1.25, w), color, alpha, bb)
        c.shape(polygon([P(11.2, 3.2), P(13.9, 8.2), P(9.0, 7.6)]), color, alpha, bb)
    elif name == "down":
        c.shape(polyline([P(4, 6.5), P(8, 10.5), P(12, 6.5)], w), color, alpha, bb)
    elif name == "disk":
        c.shape(rrect(*P(2, 4), *P(14, 12), 1.6 * k), color, alpha, bb)
        c.shape(circle(*P(11.5, 9.6), 0.9 * k), WHITE, alpha, bb)
        c.shape(capsule(*P(4, 9.6), *P(8, 9.6), 0.5 * k), WHITE, alpha, bb)
    elif name == "folder":
        c.shape(union(rrect(*P(1.5, 4), *P(7, 7), 1 * k), rrect(*P(1.5, 5.5), *P(14.5, 13), 1.2 * k)),
                color, alpha, bb)
    elif name == "gear":
        teeth = [capsule(*P(8 + 5.2 * math.cos(a), 8 + 5.2 * math.sin(a)),
                         *P(8 + 6.6 * math.cos(a), 8 + 6.6 * math.sin(a)), 1.2 * k)
                 for a in [i * math.pi / 4 for i in range(8)]]
        body = union(circle(*P(8, 8), 5.2 * k), *teeth)
        hole = circle(*P(8, 8), 2.1 * k)
        c.shape(lambda x, y: max(body(x, y), -hole(x, y)), color, alpha, bb)
    elif name == "bolt":
        c.shape(polygon([P(9.5, 1.5), P(3.5, 9), P(7.5, 9), P(6.5, 14.5), P(12.5, 7), P(8.5, 7)]),
                color, alpha, bb)
    elif name == "clock":
        c.shape(ring(circle(*P(8, 8), 6.2 * k), w), color, alpha, bb)
        c.shape(polyline([P(8, 4.5), P(8, 8), P(10.8, 9.6)], w * 0.9), color, alpha, bb)
    elif name == "sliders":
        for yy, xx in ((4.5, 10.5), (8, 5.5), (11.5, 9)):
            c.shape(capsule(*P(2.5, yy), *P(13.5, yy), w * 0.7), color, alpha, bb)
            c.shape(circle(*P(xx, yy), 1.7 * k), color, alpha, bb)
    elif name == "doc":
        c.shape(polygon([P(3.5, 1.8), P(9.8, 1.8), P(12.5, 4.6), P(12.5, 14.2), P(3.5, 14.2)]), color, alpha, bb)
        for yy in (7, 9.5, 12):
            c.shape(capsule(*P(5.5, yy), *P(10.5, yy), 0.55 * k), WHITE, alpha, bb)
    elif name == "dots":
        for xx in (4, 8, 12):
            c.shape(circle(*P(xx, 8), 1.5 * k), color, alpha, bb)
    elif name == "usb":
        c.shape(rrect(*P(4.5, 1.5), *P(11.5, 14.5), 1.5 * k), color, alpha, bb)
        c.shape(rrect(*P(6.3, 3), *P(9.7, 5.8), 0.4 * k), WHITE, alpha, bb)
        c.shape(circle(*P(8, 11), 1.3 * k), WHITE, alpha, bb)
    elif name == "backup":
        c.shape(rrect(*P(2, 9), *P(14, 14.5), 1.4 * k), color, alpha, bb)
        c.shape(capsule(*P(8, 1.8), *P(8, 7), w), color, alpha, bb)
        c.shape(polygon([P(4.8, 5.2), P(11.2, 5.2), P(8, 8.6)]), color, alpha, bb)
        c.shape(circle(*P(11.6, 11.8), 0.8 * k), WHITE, alpha, bb)


# --- writers ------------------------------------------------------------------------------

def save_png(c, rid, name):
    path = os.path.join(HERE, "png", "%d_%s.png" % (rid, name))
    with open(path, "wb") as f:
        f.write(c.png_bytes())
    PNGS.append((rid, "art/png/%d_%s.png" % (rid, name)))


def dib_entry(c, cursor_hotspot=None):
    """One icon or cursor image: 32-bit BGRA colour plus an AND mask (bottom-up)."""
    header = struct.pack("<IiiHHIIiiII", 40, c.w, c.h * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    color = c.rows_bgra_bottom_up()
    row_bytes = ((c.w + 31) // 32) * 4
    mask = bytearray()
    for y in range(c.h - 1, -1, -1):
        row = bytearray(row_bytes)
        for x in range(c.w):
            if c.px[y * c.w + x][3] < 128:
                row[x // 8] |= 0x80 >> (x % 8)
        mask += row
    return header + color + bytes(mask)


def save_icon(images, rid, name, cursor=None):
    kind = 2 if cursor else 1
    ext = "cur" if cursor else "ico"
    data = [dib_entry(c) for c in images]
    out = struct.pack("<HHH", 0, kind, len(images))
    offset = 6 + 16 * len(images)
    for c, d in zip(images, data):
        p1, p2 = (cursor if cursor else (1, 32))
        out += struct.pack("<BBBBHHII", c.w % 256, c.h % 256, 0, 0, p1, p2, len(d), offset)
        offset += len(d)
    out += b"".join(data)
    path = os.path.join(HERE, ext, "%d_%s.%s" % (rid, name, ext))
    with open(path, "wb") as f:
        f.write(out)
    (CURSORS if cursor else ICONS).append((rid, "art/%s/%d_%s.%s" % (ext, rid, name, ext)))


PNGS, ICONS, CURSORS = [], [], []


# --- pieces --------------------------------------------------------------------------------

def sliced(full_w, h, left_w, right_w, draw):
    """Draws a whole piece and cuts it into left cap, a one-pixel middle, right cap."""
    c = Canvas(full_w, h)
    draw(c)
    mid = left_w
    return c.crop(0, 0, left_w, h), c.crop(mid, 0, 1, h), c.crop(full_w - right_w, 0, right_w, h)


def button_skin(state):
    top, bottom, edge = {
        "normal": (WHITE, (233, 237, 242), BORDER),
        "hover": ((246, 250, 255), ACCENT_PALE, ACCENT_LIGHT),
        "pressed": (ACCENT, ACCENT_DARK, ACCENT_DARK),
        "disabled": (GREY_LIGHT, GREY_LIGHT, (214, 218, 224)),
    }[state]

    def draw(c):
        c.shape(rrect(0, 0, c.w, c.h, 5), edge)
        c.shape(rrect(1, 1, c.w - 1, c.h - 1, 4), vgrad(top, bottom, 1, c.h - 1))
    return sliced(13, 24, 6, 6, draw)


def combo_piece(state):
    edge = {"normal": BORDER, "pressed": ACCENT_DARK, "hover": ACCENT}[state]
    btn = {"normal": (238, 241, 245), "pressed": ACCENT_PALE, "hover": (244, 248, 253)}[state]

    def draw(c):
        c.px = [[255.0, 255.0, 255.0, 255.0] for _ in range(c.w * c.h)]  # opaque
        c.shape(ring(rrect(0, 0, c.w, c.h, 3), 1.0), edge)
        c.shape(rrect(c.w - 20, 1, c.w - 1, c.h - 1, 2.5), btn)
        c.shape(capsule(c.w - 19.5, 3, c.w - 19.5, c.h - 3, 0.5), (222, 226, 232))
        glyph(c, "down", c.w - 18, 3, 16, ACCENT_DARK if state != "normal" else TEXT)
    return sliced(4 + 1 + 20, 22, 4, 20, draw)


def edit_frame(state, w, h, r=3):
    edge = {"normal": BORDER, "hover": ACCENT_LIGHT, "focused": ACCENT, "disabled": (214, 218, 224)}[state]
    fill = GREY_LIGHT if state == "disabled" else WHITE
    c = Canvas(w, h)
    c.shape(rrect(0, 0, w, h, r), edge)
    c.shape(rrect(1, 1, w - 1, h - 1, r - 1), fill)
    if state == "focused":
        c.shape(ring(rrect(1, 1, w - 1, h - 1, r - 1), 1.0), ACCENT_PALE)
    return c


def tab_piece(first, current):
    fill_top, fill_bottom = (WHITE, WHITE) if current else ((236, 239, 243), (226, 230, 235))
    edge = BORDER if current else (210, 215, 222)

    def draw(c):
        left = 0 if not first else 0
        c.shape(rrect(left, 0, c.w, c.h + 8, 6), edge)
        c.shape(rrect(left + 1, 1, c.w - 1, c.h + 8, 5), vgrad(fill_top, fill_bottom, 1, c.h))
        if current:
            c.shape(rrect(left + 3, 1, c.w - 3, 4, 1.5), ACCENT)
    return sliced(17, 30, 8, 8, draw)


def round_button(w, h, state, glyph_name, glyph_size, radius):
    fill = {"normal": ACCENT, "hover": (58, 140, 214), "pressed": ACCENT_DARK, "disabled": (196, 202, 210)}[state]
    c = Canvas(w, h)
    c.shape(rrect(1, 2, w - 1, h, radius), (0, 0, 0), 0.12)  # soft drop
    c.shape(rrect(1, 1, w - 1, h - 1, radius), vgrad(mix(fill, WHITE, 0.12), fill, 1, h - 1))
    off = 1 if state == "pressed" else 0
    glyph(c, glyph_name, (w - glyph_size) / 2 + off, (h - glyph_size) / 2 + off, glyph_size, WHITE)
    return c


def caption_icon(glyph_name, state):
    c = Canvas(16, 16)
    if state == "hover":
        c.shape(circle(8, 8, 7.5), WHITE, 0.28)
    elif state == "pressed":
        c.shape(circle(8, 8, 7.5), ACCENT_DARK, 0.9)
    glyph(c, glyph_name, 0, 0, 16, WHITE)
    return c


def check_icon(kind):
    c = Canvas(16, 16)
    disabled = kind in ("fixed", "mixed")
    edge = {"unchecked": BORDER_DARK, "hover": ACCENT, "checked": ACCENT_DARK, "fixed": (200, 205, 212),
            "mixed": BORDER_DARK}[kind]
    c.shape(rrect(1.5, 1.5, 14.5, 14.5, 2.5), edge)
    inner = ACCENT if kind == "checked" else (GREY_LIGHT if kind == "fixed" else WHITE)
    c.shape(rrect(2.5, 2.5, 13.5, 13.5, 1.8), inner)
    if kind == "checked":
        glyph(c, "check", 0, 0, 16, WHITE)
    elif kind == "mixed":
        c.shape(rrect(5, 5, 11, 11, 1.2), ACCENT_LIGHT)
    elif kind == "hover":
        c.shape(rrect(2.5, 2.5, 13.5, 13.5, 1.8), ACCENT_PALE)
    del disabled
    return c


def radio_icon(kind):
    c = Canvas(16, 16)
    edge = {"unchecked": BORDER_DARK, "hover": ACCENT, "checked": ACCENT_DARK, "disabled": (205, 210, 216),
            "disabled_checked": (205, 210, 216)}[kind]
    c.shape(circle(8, 8, 6.6), edge)
    c.shape(circle(8, 8, 5.6), ACCENT_PALE if kind == "hover" else
            (GREY_LIGHT if kind.startswith("disabled") else WHITE))
    if kind == "checked":
        c.shape(circle(8, 8, 3.1), ACCENT)
    elif kind == "disabled_checked":
        c.shape(circle(8, 8, 3.1), GREY)
    return c


def tile_icon(glyph_name, size, color=WHITE, bg=None):
    c = Canvas(size, size)
    if bg:
        c.shape(rrect(0.5, 0.5, size - 0.5, size - 0.5, size * 0.22), vgrad(mix(bg, WHITE, 0.15), bg, 0, size))
        inset = size * 0.18
        glyph(c, glyph_name, inset, inset, size - 2 * inset, color)
    else:
        glyph(c, glyph_name, 0, 0, size, color)
    return c


def app_icon(size):
    c = Canvas(size, size)
    r = size * 0.22
    c.shape(rrect(0.5, 0.5, size - 0.5, size - 0.5, r), vgrad(ACCENT_LIGHT, ACCENT_DARK, 0, size))
    k = size / 16.0
    # A disk with an arrow going in: backup.
    c.shape(rrect(3 * k, 9 * k, 13 * k, 13.2 * k, 1.2 * k), WHITE)
    c.shape(circle(11 * k, 11.1 * k, 0.8 * k), ACCENT)
    c.shape(capsule(8 * k, 2.6 * k, 8 * k, 6.4 * k, max(0.8, 1.0 * k)), WHITE)
    c.shape(polygon([(5.2 * k, 5.0 * k), (10.8 * k, 5.0 * k), (8 * k, 8.2 * k)]), WHITE)
    return c


def hand_cursor():
    c = Canvas(32, 32)
    outline = (20, 20, 20)
    finger = union(rrect(6, 1, 11, 15, 2.5))
    palm = rrect(6, 10, 20, 24, 4)
    others = union(rrect(10.5, 8, 14.5, 16, 2), rrect(14, 9, 18, 16, 2), rrect(17.5, 10.5, 21, 17, 1.8))
    thumb = capsule(3.5, 13.5, 7.5, 18.5, 2.2)
    body = union(finger, palm, others, thumb)
    c.shape(lambda x, y: body(x, y) - 1.0, outline)
    c.shape(body, WHITE)
    for xx in (10.7, 14.3, 17.8):
        c.shape(capsule(xx, 12.5, xx, 15.5, 0.35), (120, 120, 120))
    return c


def logo():
    s = 3
    w = 40 + text_width("KVR ZUL", s) + 4
    c = Canvas(w, 36)
    c.shape(rrect(1, 3, 31, 33, 7), WHITE, 0.95)
    glyph(c, "backup", 6, 8, 20, ACCENT)
    text(c, "KVR ZUL", 40, 8, s, WHITE)
    return c


def window_background(w, h):
    c = Canvas(w, h)
    c.shape(rrect(0, 0, w, h, 7), vgrad(BG, (236, 240, 245), 60, h))
    c.shape(lambda x, y: max(rrect(0, 0, w, h, 7)(x, y), y - 60), vgrad(ACCENT, ACCENT_DARK, 0, 60))
    c.shape(capsule(0, 60.5, w, 60.5, 0.5), (255, 255, 255), 0.25)
    return c


def frame(w, h):
    c = Canvas(w, h)
    outer = rrect(0, 0, w, h, 10)
    inner = rrect(3, 3, w - 2, h - 2, 7)
    c.shape(lambda x, y: max(outer(x, y), -inner(x, y)), (0, 0, 0), 0.10)
    c.shape(ring(rrect(2.5, 2.5, w - 1.5, h - 1.5, 7.5), 1.0), ACCENT_DARK, 0.85)
    return c


def panel(w, h, r=6, fill=WHITE, edge=BORDER, header=0):
    c = Canvas(w, h)
    c.shape(rrect(0, 0, w, h, r), edge)
    c.shape(rrect(1, 1, w - 1, h - 1, r - 1), fill)
    if header:
        c.shape(lambda x, y: max(rrect(1, 1, w - 1, h - 1, r - 1)(x, y), y - header),
                vgrad(ACCENT_PALE, (236, 243, 251), 1, header))
        c.shape(capsule(1, header + 0.5, w - 1, header + 0.5, 0.5), (210, 222, 236))
    return c


def line(w, h, color=BORDER):
    c = Canvas(w, h)
    if w >= h:
        c.shape(lambda x, y: abs(y - h / 2.0) - h / 2.0, color)
    else:
        c.shape(lambda x, y: abs(x - w / 2.0) - w / 2.0, color)
    return c


def popup_background(w, h):
    c = Canvas(w, h)
    c.shape(rrect(0, 0, w, h, 7), BORDER_DARK)
    c.shape(rrect(1, 1, w - 1, h - 1, 6), WHITE)
    band = lambda x, y: max(rrect(1, 1, w - 1, h - 1, 6)(x, y), y - 26)
    c.shape(band, vgrad(ACCENT, ACCENT_DARK, 0, 26))
    return c


def splash(w, h):
    c = Canvas(w, h, (255, 255, 255, 255))
    c.shape(lambda x, y: y - 150, vgrad(ACCENT_LIGHT, ACCENT, 0, 150))
    c.shape(lambda x, y: abs(y - 150.5) - 0.5, ACCENT_DARK, 0.6)
    # Soft circles behind the mark.
    c.shape(circle(w - 60, 30, 90), WHITE, 0.08)
    c.shape(circle(40, 140, 60), WHITE, 0.06)
    c.shape(rrect(30, 40, 90, 100, 14), WHITE)
    glyph(c, "backup", 38, 48, 44, ACCENT)
    text(c, "KVR ZUL", 110, 52, 5, WHITE)
    c.shape(capsule(112, 100, 112 + text_width("KVR ZUL", 5), 100, 1.0), WHITE, 0.55)
    return c


def progress_track(w, h, r):
    c = Canvas(w, h)
    c.shape(rrect(0, 0, w, h, r), (214, 220, 228))
    c.shape(rrect(1, 1, w - 1, h - 1, r - 1), vgrad((236, 239, 243), (246, 248, 250), 1, h - 1))
    return c


def progress_body(w, h, r=0):
    c = Canvas(w, h)
    if r:
        c.shape(rrect(0, 0, w, h, r), vgrad(ACCENT_LIGHT, ACCENT, 0, h))
    else:
        c.shape(lambda x, y: -1, vgrad(ACCENT_LIGHT, ACCENT, 0, h), bbox=(0, 0, w, h))
    return c


def progress_end(w, h, left):
    c = Canvas(w, h)
    full = Canvas(2 * w + 1, h)
    full.shape(rrect(0, 0, full.w, h, min(w, h / 2.0)), vgrad(ACCENT_LIGHT, ACCENT, 0, h))
    return full.crop(0, 0, w, h) if left else full.crop(full.w - w, 0, w, h)


def quick_button(state):
    w, h = 170, 70
    fill = {"normal": ACCENT, "hover": (58, 140, 214), "pressed": ACCENT_DARK, "disabled": (196, 202, 210)}[state]
    c = Canvas(w, h)
    c.shape(rrect(2, 4, w - 2, h - 1, 12), (0, 0, 0), 0.10)
    c.shape(rrect(2, 2, w - 2, h - 3, 12), vgrad(mix(fill, WHITE, 0.18), fill, 2, h - 3))
    off = 1 if state == "pressed" else 0
    c.shape(circle(38 + off, 35 + off, 22), WHITE, 0.22)
    glyph(c, "backup", 20 + off, 17 + off, 36, WHITE)
    for i, yy in enumerate((26, 36, 46)):
        ww = (70, 52, 60)[i]
        c.shape(capsule(74 + off, yy + off, 74 + ww + off, yy + off, 2.2), WHITE, 0.85 if i == 0 else 0.5)
    return c


def main():
    for d in ("png", "ico", "cur"):
        os.makedirs(os.path.join(HERE, d), exist_ok=True)
        for f in os.listdir(os.path.join(HERE, d)):
            os.remove(os.path.join(HERE, d, f))

    # Skinned button slices: (left, middle, right) per state group.
    for state, ids in (("normal", (253, 254, 255)), ("pressed", (244, 245, 246)),
                       ("hover", (250, 251, 252)), ("disabled", (247, 248, 249))):
        for piece, rid, part in zip(button_skin(state), ids, ("left", "mid", "right")):
            save_png(piece, rid, "btn_%s_%s" % (state, part))

    # Combo box: a shared left cap and middle, one drop button per state.
    pieces = {s: combo_piece(s) for s in ("normal", "pressed", "hover")}
    save_png(pieces["normal"][0], 268, "combo_left")
    save_png(pieces["normal"][1], 269, "combo_mid")
    save_png(pieces["normal"][2], 265, "combo_drop_normal")
    save_png(pieces["pressed"][2], 262, "combo_drop_pressed")
    save_png(pieces["hover"][2], 264, "combo_drop_hover")

    # Edit boxes: whole frames per state, and 4/1/4 x 20 slices per state.
    save_png(edit_frame("normal", 120, 22), 258, "edit_normal")
    save_png(edit_frame("hover", 120, 22), 259, "edit_hover")
    save_png(edit_frame("focused", 120, 22), 257, "edit_focused")
    save_png(edit_frame("disabled", 120, 22), 256, "edit_disabled")
    for state, (l, m, r) in (("normal", (289, 290, 291)), ("hover", (292, 294, 293)),
                             ("focused", (295, 296, 297)), ("disabled", (298, 300, 299))):
        full = edit_frame(state, 9, 20, 3)
        save_png(full.crop(0, 0, 4, 20), l, "editslice_%s_left" % state)
        save_png(full.crop(4, 0, 1, 20), m, "editslice_%s_mid" % state)
        save_png(full.crop(5, 0, 4, 20), r, "editslice_%s_right" % state)

    # Settings page: bands and tabs.
    top = Canvas(534, 30)
    top.shape(lambda x, y: -1, vgrad(BG, BG, 0, 30), bbox=(0, 0, 534, 30))
    top.shape(lambda x, y: abs(y - 29.5) - 0.5, BORDER)
    save_png(top, 226, "set_band_top")
    save_png(panel(534, 240, 4, (250, 251, 253), BORDER), 225, "set_band_middle")
    bottom = Canvas(534, 6)
    bottom.shape(lambda x, y: -1, BG, bbox=(0, 0, 534, 6))
    save_png(bottom, 224, "set_band_bottom")
    for (first, current), ids in (((True, False), (227, 228, 229)), ((False, False), (230, 231, 232)),
                                  ((True, True), (270, 271, 272)), ((False, True), (273, 274, 275))):
        for piece, rid, part in zip(tab_piece(first, current), ids, ("left", "mid", "right")):
            save_png(piece, rid, "tab_%s_%s_%s" % ("first" if first else "other",
                                                   "current" if current else "plain", part))

    # Frame lines of the option groups.
    save_png(line(2, 100), 240, "group_line_left")
    save_png(line(2, 100), 241, "group_line_right")
    save_png(line(100, 2), 242, "group_line_bottom")
    save_png(line(492, 2, (214, 220, 228)), 222, "separator")

    # Main window.
    save_png(window_background(642, 436), 159, "window_background")
    save_png(frame(647, 441), 212, "window_frame")
    save_png(panel(639, 352, 6, WHITE, (214, 220, 228)), 211, "content_panel")
    save_png(logo(), 158, "logo")

    # Page panel: left strip, separator, highlight, action buttons.
    strip = Canvas(72, 340)
    strip.shape(lambda x, y: -1, vgrad((232, 238, 246), (220, 229, 240), 0, 340), bbox=(0, 0, 72, 340))
    strip.shape(lambda x, y: abs(x - 71.5) - 0.5, (206, 216, 228))
    save_png(strip, 146, "page_strip")
    save_png(line(64, 2, (206, 216, 228)), 215, "page_separator")
    hl = Canvas(72, 64)
    hl.shape(rrect(4, 2, 68, 62, 8), WHITE, 0.9)
    hl.shape(rrect(4, 2, 7, 62, 1.5), ACCENT)
    save_png(hl, 216, "page_highlight")
    for glyph_name, ids in (("down", {"normal": 204, "pressed": 202, "hover": 203}),
                            ("restore", {"normal": 206, "pressed": 207, "hover": 205}),
                            ("play", {"normal": 210, "pressed": 208, "hover": 209})):
        for state, rid in ids.items():
            save_png(round_button(32, 32, state, glyph_name, 20, 8), rid, "action_%s_%s" % (glyph_name, state))

    # Pages and dialogs.
    save_png(panel(542, 284, 6, WHITE, (214, 220, 228), header=34), 217, "page_panel")
    save_png(tile_icon("folder", 32, WHITE, ACCENT), 223, "page_icon")
    save_png(tile_icon("usb", 32, WHITE, ACCENT), 288, "device_icon")
    save_png(popup_background(413, 126), 279, "popup_background")
    for state, rid in (("normal", 221), ("pressed", 218), ("hover", 220), ("disabled", 219)):
        save_png(quick_button(state), rid, "quick_%s" % state)

    # Splash / About.
    save_png(splash(407, 271), 280, "splash_background")
    save_png(progress_track(357, 24, 12), 284, "splash_track")
    save_png(progress_end(6, 24, True), 285, "splash_bar_left")
    save_png(progress_body(12, 24), 286, "splash_bar_body")
    save_png(progress_end(6, 24, False), 287, "splash_bar_right")

    # Progress dialog bar: track, segment, left end.
    save_png(progress_track(492, 18, 4), 281, "progress_track")
    save_png(progress_body(8, 16, 1.5), 282, "progress_segment")
    save_png(progress_end(3, 16, True), 283, "progress_left")

    # Icons.
    save_icon([app_icon(16), app_icon(32), app_icon(48)], 133, "app")
    for glyph_name, ids in (("info", (160, 161, 162)), ("close", (163, 164, 165)), ("help", (166, 167, 168))):
        for state, rid in zip(("pressed", "hover", "normal"), ids):
            save_icon([caption_icon(glyph_name, state)], rid, "caption_%s_%s" % (glyph_name, state))
    save_icon([caption_icon("minus", "normal")], 169, "caption_minus_normal")
    save_icon([caption_icon("minus", "pressed")], 170, "caption_minus_pressed")
    save_icon([caption_icon("minus", "hover")], 173, "caption_minus_hover")
    for glyph_name, rid in (("bolt", 176), ("backup", 175), ("folder", 174), ("gear", 177)):
        save_icon([tile_icon(glyph_name, 32, WHITE, ACCENT), tile_icon(glyph_name, 16, WHITE, ACCENT)],
                  rid, "page_%s" % glyph_name)
    for kind, rid in (("unchecked", 180), ("hover", 179), ("checked", 182), ("fixed", 181), ("mixed", 183)):
        save_icon([check_icon(kind)], rid, "check_%s" % kind)
    for kind, rid in (("unchecked", 194), ("hover", 193), ("checked", 196), ("disabled", 195),
                      ("disabled_checked", 197)):
        save_icon([radio_icon(kind)], rid, "radio_%s" % kind)
    save_icon([tile_icon("disk", 16, ACCENT_DARK), tile_icon("disk", 32, ACCENT_DARK)], 198, "disk")
    for glyph_name, rid in (("sliders", 237), ("clock", 239), ("doc", 285), ("dots", 238)):
        save_icon([tile_icon(glyph_name, 16, ACCENT_DARK)], rid, "tab_%s" % glyph_name)

    # Cursor: the hand over skinned buttons, hot spot at the finger tip.
    save_icon([hand_cursor()], 131, "hand", cursor=(8, 1))

    # The resource script that the program's .rc includes.
    lines = ["// Generated by art/make_art.py: every skin, icon and cursor of the main program.", ""]
    for rid, path in sorted(ICONS):
        lines.append('%d ICON "%s"' % (rid, path))
    for rid, path in sorted(CURSORS):
        lines.append('%d CURSOR "%s"' % (rid, path))
    for rid, path in sorted(PNGS):
        lines.append('%d PNG "%s"' % (rid, path))
    with open(os.path.join(HERE, "..", "art.rc"), "w") as f:
        f.write("\n".join(lines) + "\n")
    print("%d PNG, %d icons, %d cursors" % (len(PNGS), len(ICONS), len(CURSORS)))


if __name__ == "__main__":
    main()
