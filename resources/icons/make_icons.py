#!/usr/bin/env python3
"""Draws Quorbel's own icons into PNG files beside this script; the PNG files are committed.

    python3 resources/icons/make_icons.py

Every icon is a list of simple shapes on a 32-unit square grid, filled with 4 x 4 samples per
pixel, so each size is drawn from the shapes rather than scaled from another size. The toolbar
icons are fallbacks, used when the desktop's icon theme has no icon of that freedesktop name;
"dorvex-quorbel" is the program's own icon, installed into the hicolor theme.
"""
import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLES = 4


# --- shapes: each answers whether a point (in 32-unit grid coordinates) is inside ---

def rect(x0, y0, x1, y1, r=0.0):
    def inside(x, y):
        if x < x0 or x > x1 or y < y0 or y > y1:
            return False
        if r <= 0:
            return True
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return inside


def ellipse(cx, cy, rx, ry):
    return lambda x, y: ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0


def ring(cx, cy, r_out, r_in):
    return lambda x, y: r_in ** 2 <= (x - cx) ** 2 + (y - cy) ** 2 <= r_out ** 2


def polygon(*points):
    def inside(x, y):
        # Even-odd rule.
        result = False
        n = len(points)
        for i in range(n):
            (xa, ya), (xb, yb) = points[i], points[(i + 1) % n]
            if (ya > y) != (yb > y) and x < xa + (y - ya) * (xb - xa) / (yb - ya):
                result = not result
        return result
    return inside


def line(xa, ya, xb, yb, width):
    dx, dy = xb - xa, yb - ya
    length = math.hypot(dx, dy)
    nx, ny = -dy / length * width / 2, dx / length * width / 2
    return polygon((xa + nx, ya + ny), (xb + nx, yb + ny), (xb - nx, yb - ny), (xa - nx, ya - ny))


def polyline(points, width):
    parts = [line(*points[i], *points[i + 1], width) for i in range(len(points) - 1)]
    joints = [ellipse(x, y, width / 2, width / 2) for x, y in points]
    return lambda x, y: any(p(x, y) for p in parts + joints)


# --- colours (RGBA) ---

OUTLINE = (46, 52, 64, 255)
PAPER = (250, 250, 246, 255)
FOLD = (214, 218, 224, 255)
GREEN = (46, 160, 67, 255)
RED = (208, 52, 44, 255)
BLUE = (36, 112, 204, 255)
YELLOW = (236, 184, 56, 255)
YELLOW_DARK = (196, 140, 30, 255)
TEAL = (22, 128, 120, 255)
TEAL_DARK = (12, 84, 80, 255)
AMBER = (242, 170, 52, 255)
GREY = (120, 128, 140, 255)
WHITE = (255, 255, 255, 255)


def page(x0=7, y0=3, x1=25, y1=29, fold=6):
    """A sheet of paper with a folded corner: outline, paper, fold."""
    body = polygon((x0, y0), (x1 - fold, y0), (x1, y0 + fold), (x1, y1), (x0, y1))
    inner = polygon((x0 + 1, y0 + 1), (x1 - fold - 0.4, y0 + 1), (x1 - 1, y0 + fold + 0.4),
                    (x1 - 1, y1 - 1), (x0 + 1, y1 - 1))
    corner = polygon((x1 - fold, y0), (x1 - fold, y0 + fold), (x1, y0 + fold))
    return [(body, OUTLINE), (inner, PAPER), (corner, FOLD)]


def plus(cx, cy, arm, width, colour):
    return [(rect(cx - arm, cy - width / 2, cx + arm, cy + width / 2), colour),
            (rect(cx - width / 2, cy - arm, cx + width / 2, cy + arm), colour)]


def archive_box(lid_colour, body_colour):
    """The program's box: a body, a lid band and a zip running down the middle."""
    shapes = [(rect(4, 6, 28, 29, 2.5), OUTLINE),
              (rect(5, 7, 27, 28, 1.8), body_colour),
              (rect(4, 3, 28, 11, 2), OUTLINE),
              (rect(5, 4, 27, 10, 1.4), lid_colour)]
    for i, y in enumerate(range(12, 28, 2)):
        x = 14.5 if i % 2 == 0 else 16
        shapes.append((rect(x, y, x + 1.5, y + 1.2), PAPER))
    shapes.append((rect(13.5, 5.5, 18.5, 9, 1), PAPER))
    return shapes


ICONS = {
    "document-new": page() + plus(22, 22, 6, 3.2, GREEN),
    "document-open": [
        (polygon((3, 7), (12, 7), (14, 10), (27, 10), (27, 27), (3, 27)), YELLOW_DARK),
        (polygon((6, 14), (30, 14), (26, 27), (3, 27)), OUTLINE),
        (polygon((7, 15.2), (28.4, 15.2), (25.2, 26), (4.6, 26)), YELLOW),
    ],
    "list-add": [(ellipse(16, 16, 13, 13), OUTLINE), (ellipse(16, 16, 12, 12), GREEN)]
                + plus(16, 16, 7, 3.6, WHITE),
    "archive-extract": archive_box(TEAL_DARK, TEAL) + [
        (polygon((16, 31), (8, 22), (13, 22), (13, 13), (19, 13), (19, 22), (24, 22)), OUTLINE),
        (polygon((16, 29.4), (10.4, 23), (14, 23), (14, 14), (18, 14), (18, 23), (21.6, 23)), AMBER),
    ],
    "document-preview": page(4, 3, 21, 27) + [
        (rect(7, 9, 15, 10.4), GREY), (rect(7, 13, 13, 14.4), GREY),
        (line(21, 21, 28.5, 28.5, 4.2), OUTLINE),
        (ring(17, 17, 7.5, 5), OUTLINE),
        (ellipse(17, 17, 5, 5), (200, 228, 250, 220)),
    ],
    "edit-delete": [
        (line(7, 7, 25, 25, 6.5), OUTLINE), (line(25, 7, 7, 25, 6.5), OUTLINE),
        (line(7, 7, 25, 25, 4.5), RED), (line(25, 7, 7, 25, 4.5), RED),
    ],
    "tools-check-spelling": [
        (polyline([(5, 17), (13, 25), (27, 7)], 6.5), OUTLINE),
        (polyline([(5, 17), (13, 25), (27, 7)], 4.4), GREEN),
    ],
    "view-list-details": [(rect(3, 4, 29, 28, 2), OUTLINE), (rect(4, 5, 28, 27, 1.4), PAPER)]
                         + [(rect(6, y, 9, y + 2.4), BLUE) for y in (8, 14, 20)]
                         + [(rect(11, y, 26, y + 2.4), GREY) for y in (8, 14, 20)],
    "view-list-tree": [
        (rect(8, 7.5, 9.6, 25), GREY),
        (rect(8, 15, 16, 16.6), GREY), (rect(8, 23.4, 16, 25), GREY),
        (rect(4, 3, 13, 10, 1.2), OUTLINE), (rect(5, 4, 12, 9, 0.8), YELLOW),
        (rect(15, 12, 28, 19, 1.2), OUTLINE), (rect(16, 13, 27, 18, 0.8), YELLOW),
        (rect(15, 21, 28, 28, 1.2), OUTLINE), (rect(16, 22, 27, 27, 0.8), PAPER),
    ],
    "edit-find": [
        (line(19, 19, 28, 28, 5.2), OUTLINE), (line(19.5, 19.5, 27.5, 27.5, 3.2), AMBER),
        (ring(13, 13, 10.5, 7.2), OUTLINE), (ring(13, 13, 9.6, 8.1), BLUE),
        (ellipse(13, 13, 7.2, 7.2), (200, 228, 250, 220)),
    ],
    "view-statistics": [
        (rect(3, 28, 29, 29.6), OUTLINE),
        (rect(5, 17, 11, 28), OUTLINE), (rect(6, 18, 10, 28), BLUE),
        (rect(13, 7, 19, 28), OUTLINE), (rect(14, 8, 18, 28), AMBER),
        (rect(21, 13, 27, 28), OUTLINE), (rect(22, 14, 26, 28), GREEN),
    ],
    "image-x-generic": [
        (rect(3, 5, 29, 27, 1.5), OUTLINE), (rect(4.4, 6.4, 27.6, 25.6), (176, 214, 240, 255)),
        (ellipse(22, 11.5, 3, 3), AMBER),
        (polygon((4.4, 25.6), (12, 13), (18, 21), (21, 17), (27.6, 25.6)), GREEN),
    ],
    "folder": [
        (polygon((3, 6), (12, 6), (14, 9), (29, 9), (29, 27), (3, 27)), OUTLINE),
        (polygon((4, 7), (11.5, 7), (13.5, 10), (28, 10), (28, 26), (4, 26)), YELLOW_DARK),
        (rect(4, 12, 28, 26), YELLOW),
    ],
    "computer": [
        (rect(3, 4, 29, 22, 1.5), OUTLINE), (rect(5, 6, 27, 20), BLUE),
        (rect(14, 22, 18, 26), OUTLINE), (rect(9, 26, 23, 28.5, 1), OUTLINE),
    ],
    "network-workgroup": [
        (ellipse(16, 16, 13, 13), OUTLINE), (ellipse(16, 16, 12, 12), BLUE),
        (ring(16, 16, 12, 10.8), OUTLINE),
        (lambda x, y: abs(((x - 16) / 5.5) ** 2 + ((y - 16) / 12) ** 2 - 1) < 0.12, PAPER),
        (rect(15.4, 4, 16.6, 28), PAPER), (rect(4, 15.4, 28, 16.6), PAPER),
        (rect(6, 9.6, 26, 10.6), PAPER), (rect(6, 21.4, 26, 22.4), PAPER),
    ],
    "help-contents": [
        (rect(6, 3, 27, 29, 1.5), OUTLINE), (rect(7, 4, 26, 28, 1), BLUE),
        (rect(7, 25, 26, 28), PAPER), (rect(10, 4, 12, 25), (24, 80, 150, 255)),
        (rect(15, 9, 23, 11), PAPER), (rect(15, 13, 21, 14.6), PAPER),
    ],
    "package-x-generic": archive_box((170, 120, 70, 255), (204, 160, 104, 255)),
    "dorvex-quorbel": archive_box(AMBER, TEAL),
}

TOOLBAR_SIZES = (16, 22, 32)
PROGRAM_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)


def render(shapes, size):
    scale = 32.0 / size
    rows = []
    for py in range(size):
        row = bytearray()
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (px + (sx + 0.5) / SAMPLES) * scale
                    y = (py + (sy + 0.5) / SAMPLES) * scale
                    colour = None
                    # Later shapes paint over earlier ones.
                    for inside, c in reversed(shapes):
                        if inside(x, y):
                            colour = c
                            break
                    if colour:
                        a = colour[3] / 255.0
                        for k in range(3):
                            acc[k] += colour[k] * a
                        acc[3] += a
            n = SAMPLES * SAMPLES
            alpha = acc[3] / n
            if alpha > 0:
                row += bytes(int(round(acc[k] / acc[3])) for k in range(3))
            else:
                row += b"\0\0\0"
            row.append(int(round(alpha * 255)))
        rows.append(bytes(row))
    return rows


def write_png(path, rows, size):
    raw = b"".join(b"\0" + r for r in rows)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
           + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(png)


def main():
    for name, shapes in ICONS.items():
        sizes = PROGRAM_SIZES if name == "dorvex-quorbel" else TOOLBAR_SIZES
        for size in sizes:
            write_png(os.path.join(HERE, "%dx%d" % (size, size), name + ".png"), render(shapes, size), size)


if __name__ == "__main__":
    main()
