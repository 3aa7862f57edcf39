#!/usr/bin/env python3
"""Writes the seed pictures of the picture fuzz targets (corpus/bmp, corpus/glimmer,
corpus/picture_dispatch): small files of every kind the codecs read, made here field by field.
Run again after changing a recipe; the files are committed."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def put(target, name, data):
    folder = os.path.join(HERE, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def bmp(width, height, bits, pixels, table=(), compression=0, header=40, masks=(), used=0):
    if header == 12:
        info = struct.pack("<IHHHH", 12, width, height & 0xFFFF, 1, bits)
        tab = b"".join(struct.pack("<BBB", c & 255, (c >> 8) & 255, (c >> 16) & 255) for c in table)
        extra = b""
    else:
        info = struct.pack("<IiiHHIIiiII", header, width, height, 1, bits, compression, len(pixels),
                           2835, 2835, used, 0)
        extra = b""
        if header > 40:
            info += b"".join(struct.pack("<I", m) for m in (list(masks) + [0, 0, 0, 0])[:4])
            info += b"\0" * (header - len(info))
        elif masks:
            extra = b"".join(struct.pack("<I", m) for m in masks)
        tab = b"".join(struct.pack("<I", c) for c in table)
    offset = 14 + len(info) + len(extra) + len(tab)
    return b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset) + info + extra + tab + pixels


def rows(width, height, bits, fn):
    stride = ((width * bits + 31) // 32) * 4
    out = b""
    for y in range(height):
        row = fn(y)
        out += row + b"\0" * (stride - len(row))
    return out


PAL16 = [0x00102030 * (i % 8) + i for i in range(16)]
PAL256 = [(i * 0x010305) & 0xFFFFFF for i in range(256)]


def bmp_seeds():
    s = {}
    s["rgb24-5x3.bmp"] = bmp(5, 3, 24, rows(5, 3, 24, lambda y: bytes((x * 40 + y * 7) & 255 for x in range(15))))
    s["pal8-6x4.bmp"] = bmp(6, 4, 8, rows(6, 4, 8, lambda y: bytes((x + y * 6) for x in range(6))), PAL256)
    s["pal8-v5-4x2.bmp"] = bmp(4, 2, 8, rows(4, 2, 8, lambda y: bytes(range(4))), PAL256[:8], header=124, used=8)
    s["pal4-7x3.bmp"] = bmp(7, 3, 4, rows(7, 3, 4, lambda y: bytes([0x12, 0x34, 0x56, 0x70])), PAL16)
    s["pal1-9x2.bmp"] = bmp(9, 2, 1, rows(9, 2, 1, lambda y: bytes([0xA5, 0x80])), [0xFFFFFF, 0x0000FF])
    s["rle8-8x3.bmp"] = bmp(8, 3, 8, bytes([4, 1, 0, 4, 1, 2, 3, 4, 0, 0, 0, 2, 2, 1, 8, 9, 0, 1]), PAL256[:16],
                            compression=1, used=16)
    s["rle4-8x2.bmp"] = bmp(8, 2, 4, bytes([8, 0x12, 0, 0, 0, 5, 0x34, 0x56, 0x70, 0, 0, 1]), PAL16, compression=2)
    s["rgb565-3x2.bmp"] = bmp(3, 2, 16, rows(3, 2, 16, lambda y: struct.pack("<HHH", 0xF800, 0x07E0, 0x001F)),
                              compression=3, masks=(0xF800, 0x07E0, 0x001F))
    s["argb32-v5-2x2.bmp"] = bmp(2, 2, 32, struct.pack("<IIII", 0x80FF0000, 0x0000FF00, 0xFF0000FF, 0),
                                 compression=3, header=124, masks=(0xFF0000, 0xFF00, 0xFF, 0xFF000000))
    s["os2-core-4x2.bmp"] = bmp(4, 2, 8, rows(4, 2, 8, lambda y: bytes([0, 1, 2, 3])), PAL256, header=12)
    s["topdown-2x-3.bmp"] = bmp(2, -3, 24, rows(2, 3, 24, lambda y: bytes([y * 50] * 6)))
    return s


def glc(width, height, rows_pixels):
    packed = b""
    for row in rows_pixels:
        x = 0
        while x < width:
            run = 1
            while x + run < width and run < 128 and row[x + run] == row[x]:
                run += 1
            if run >= 2:
                packed += bytes([127 + run]) + bytes(row[x])
                x += run
            else:
                packed += bytes([0]) + bytes(row[x])
                x += 1
    return b"KESTRA-GLC" + struct.pack("<BBHHI", 1, 0, width, height, len(packed)) + packed


def gls(width, height, palette, indices, transparent=None):
    flags = 1 if transparent is not None else 0
    head = b"KESTRA-GLS" + struct.pack("<BBHHHBB", 1, flags, width, height, len(palette),
                                        transparent or 0, 0)
    return head + b"".join(bytes(c) for c in palette) + bytes(indices)


def glimmer_seeds():
    s = {}
    s["glc-6x3.glc"] = glc(6, 3, [[(1, 2, 3)] * 4 + [(9, 9, 9), (4, 5, 6)] for _ in range(3)])
    s["glc-2x2.glc"] = glc(2, 2, [[(0, 0, 0), (255, 255, 255)], [(7, 7, 7), (7, 7, 7)]])
    s["gls-4x2.gls"] = gls(4, 2, [(0, 0, 0), (255, 0, 0), (0, 255, 0)], [0, 1, 2, 1, 2, 2, 0, 0])
    s["gls-3x3-transparent.gls"] = gls(3, 3, [(10, 20, 30), (0, 0, 0)], [0, 1, 0, 1, 1, 1, 0, 1, 0], transparent=1)
    return s


def jpeg_seeds():
    """Small JPEGs made by cjpeg (and jpegtran) from a 24 x 16 picture written here; each
    file carries one option byte first (the fuzz target's choice of scale and upsampling)."""
    import subprocess
    import tempfile
    rows = []
    for y in range(16):
        rows.append(bytes(v for x in range(24) for v in ((x * 10) & 255, (y * 15) & 255, ((x ^ y) * 9) & 255)))
    ppm = b"P6\n24 16\n255\n" + b"".join(rows)
    recipes = {
        "baseline-420.jpg": ["cjpeg", "-quality", "80"],
        "baseline-444-optimized.jpg": ["cjpeg", "-sample", "1x1", "-optimize"],
        "baseline-422.jpg": ["cjpeg", "-sample", "2x1"],
        "baseline-411.jpg": ["cjpeg", "-sample", "4x1"],
        "progressive.jpg": ["cjpeg", "-progressive"],
        "restart-1-block.jpg": ["cjpeg", "-restart", "1B"],
        "progressive-restart.jpg": ["cjpeg", "-progressive", "-restart", "2B"],
        "grey.jpg": ["cjpeg", "-grayscale"],
        "grey-progressive.jpg": ["cjpeg", "-grayscale", "-progressive"],
        "rgb.jpg": ["cjpeg", "-rgb"],
    }
    s = {}
    with tempfile.TemporaryDirectory() as tmp:
        src = os.path.join(tmp, "in.ppm")
        with open(src, "wb") as f:
            f.write(ppm)
        for name, argv in recipes.items():
            s[name] = subprocess.run(argv + [src], check=True, capture_output=True).stdout
    return s


def main():
    for i, (name, data) in enumerate(sorted(jpeg_seeds().items())):
        # Option byte: scale 1/(2^(i % 4)), every other one with chroma repeated.
        put("jpeg", name, bytes([(i % 4) | (4 if i % 2 else 0)]) + data)
        put("picture_dispatch", "jpeg-" + name, b"\x08" + data)  # named fuzz.jpeg
    b = bmp_seeds()
    g = glimmer_seeds()
    for name, data in b.items():
        put("bmp", name, data)
        put("picture_dispatch", name, b"\x00" + data)
    for name, data in g.items():
        put("glimmer", name, data)
        put("picture_dispatch", name, bytes([4 if name.endswith(".glc") else 5]) + data)
    # The dispatcher's refusals and a GLS named .bmp (found in the second pass).
    put("picture_dispatch", "mz-refused.bmp", b"\x00MZ" + b"\0" * 30)
    put("picture_dispatch", "gls-named-bmp", b"\x00" + g["gls-4x2.gls"])


if __name__ == "__main__":
    main()
