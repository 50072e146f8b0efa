#!/usr/bin/env python3
"""Draws the program's icons (resources/*.ico) from simple shapes.

Run from the repository root: python3 scripts/make-icons.py. Each icon carries a
16x16 and a 32x32 image, 32-bit with alpha, shapes anti-aliased by 4x4 supersampling.
"""
import math
import struct

RED = (220, 20, 20)
BLACK = (0, 0, 0)
WHITE = (255, 255, 255)
BLUE = (30, 80, 200)
NAVY = (20, 40, 110)


def disc(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r0, r1, a0=None, a1=None):
    def inside(x, y):
        d = math.hypot(x - cx, y - cy)
        if not (r0 <= d <= r1):
            return False
        if a0 is None:
            return True
        a = math.degrees(math.atan2(cy - y, x - cx)) % 360  # 0 = right, 90 = up
        return a0 <= a <= a1 if a0 <= a1 else (a >= a0 or a <= a1)
    return inside


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x <= x1 and y0 <= y <= y1


def segment(x0, y0, x1, y1, w):
    def inside(x, y):
        dx, dy = x1 - x0, y1 - y0
        t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / (dx * dx + dy * dy)))
        return math.hypot(x - (x0 + t * dx), y - (y0 + t * dy)) <= w / 2
    return inside


def polygon(points):
    def inside(x, y):
        c = False
        n = len(points)
        for i in range(n):
            (xa, ya), (xb, yb) = points[i], points[(i + 1) % n]
            if (ya > y) != (yb > y) and x < (xb - xa) * (y - ya) / (yb - ya) + xa:
                c = not c
        return c
    return inside


def arrow():
    return polygon([(0.12, 0.38), (0.55, 0.38), (0.55, 0.18), (0.9, 0.5),
                    (0.55, 0.82), (0.55, 0.62), (0.12, 0.62)])


def cross(w=0.14):
    a = segment(0.14, 0.14, 0.86, 0.86, w)
    b = segment(0.86, 0.14, 0.14, 0.86, w)
    return lambda x, y: a(x, y) or b(x, y)


def info_sign():
    return [(disc(0.5, 0.5, 0.42), BLUE), (disc(0.5, 0.28, 0.07), WHITE),
            (rect(0.43, 0.42, 0.57, 0.76), WHITE)]


def question_sign():
    return [(disc(0.5, 0.5, 0.42), BLUE),
            (ring(0.5, 0.38, 0.09, 0.18, 300, 200), WHITE),
            (rect(0.44, 0.5, 0.56, 0.62), WHITE), (disc(0.5, 0.75, 0.065), WHITE)]


def struck(layers):
    # A white rim keeps the red cross visible over red and dark shapes.
    return layers + [(cross(0.2), WHITE), (cross(0.1), RED)]


ICONS = {
    # Application icon: a magnifier over a red dot.
    "app": [(disc(0.42, 0.42, 0.33), NAVY), (disc(0.42, 0.42, 0.25), WHITE),
            (disc(0.42, 0.42, 0.1), RED), (segment(0.64, 0.64, 0.9, 0.9, 0.16), NAVY)],
    "module": [(rect(0, 0, 1, 1), BLACK), (arrow(), RED)],
    "ended": [(rect(0, 0, 1, 1), WHITE), (cross(0.16), RED)],
    "info_ended": struck(info_sign()),
    "question_ended": struck(question_sign()),
    "module_ended": struck([(rect(0, 0, 1, 1), BLACK), (arrow(), RED)]),
}


def render(layers, size):
    """Returns rows of (r, g, b, a) from top to bottom."""
    ss = 4
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(ss):
                for sx in range(ss):
                    x = (px + (sx + 0.5) / ss) / size
                    y = (py + (sy + 0.5) / ss) / size
                    colour = None
                    for shape, c in layers:
                        if shape(x, y):
                            colour = c
                    if colour:
                        acc[0] += colour[0]; acc[1] += colour[1]; acc[2] += colour[2]; acc[3] += 1
            n = ss * ss
            a = acc[3] / n
            if acc[3]:
                row.append((round(acc[0] / acc[3]), round(acc[1] / acc[3]), round(acc[2] / acc[3]), round(255 * a)))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def ico(layers, sizes=(16, 32)):
    images = []
    for size in sizes:
        rows = render(layers, size)
        header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
        pixels = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
        mask_stride = ((size + 31) // 32) * 4
        mask = b""
        for row in reversed(rows):
            bits = bytearray(mask_stride)
            for x, (_, _, _, a) in enumerate(row):
                if a == 0:
                    bits[x // 8] |= 0x80 >> (x % 8)
            mask += bytes(bits)
        images.append((size, header + pixels + mask))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(d for _, d in images)


if __name__ == "__main__":
    for name, layers in ICONS.items():
        with open(f"resources/{name}.ico", "wb") as f:
            f.write(ico(layers))
