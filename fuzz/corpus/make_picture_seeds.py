#!/usr/bin/env python3
"""Writes the seed pictures of the picture fuzz targets (corpus/bmp, corpus/glimmer,
corpus/png, corpus/gif, corpus/picture_dispatch): small files of every kind the codecs read, made here field by field.
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


# --- metafiles and clipboard files --------------------------------------------------------------

def emf(w, h, records, handles=8, eof=True):
    body = b"".join(struct.pack("<II", t, 8 + len(b)) + b for t, b in records)
    if eof:
        body += struct.pack("<IIIII", 14, 20, 0, 16, 20)
    head = struct.pack("<II4i4iIIIIHHIIIiiii", 1, 88, 0, 0, w - 1, h - 1, 0, 0, w * 10, h * 10, 0x464D4520,
                       0x10000, 0, len(records) + 2, handles, 0, 0, 0, 0, 1000, 1000, 100, 100)
    data = head + body
    return data[:48] + struct.pack("<I", len(data)) + data[52:]


def i32(*values):
    return struct.pack("<%di" % len(values), *values)


def dib24(w, h, colour):
    stride = (w * 3 + 3) // 4 * 4
    return struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, 0, 0, 0, 0, 0) + (colour * w).ljust(stride, b"\0") * h


def stretch_dibits(x, y, w, h, dib):
    return i32(0, 0, 0, 0, x, y, 0, 0, 2, 2, 80, 40, 120, len(dib) - 40, 0, 0xCC0020, w, h) + dib


def wmf(records, box=None, objects=8):
    body = b"".join(struct.pack("<IH", 3 + len(b) // 2, f) + b for f, b in records) + struct.pack("<IH", 3, 0)
    meta = struct.pack("<HHHIHIH", 1, 9, 0x300, (18 + len(body)) // 2, objects, 0, 0) + body
    if box is None:
        return meta
    return struct.pack("<IH4hHIH", 0x9AC6CDD7, 0, 0, 0, box[0], box[1], box[2], 0, 0) + meta


def h16(*values):
    return struct.pack("<%dh" % len(values), *values)


def metafile_seeds():
    shapes = [(39, i32(1, 0, 0x0000FF, 0)), (38, i32(2, 0, 3, 0, 0)), (37, i32(1)), (37, i32(2)),
              (43, i32(2, 2, 20, 20)), (42, i32(10, 10, 30, 30)), (44, i32(0, 0, 30, 20, 8, 8)),
              (45, i32(0, 0, 30, 30, 30, 15, 0, 15)), (46, i32(0, 0, 30, 30, 30, 15, 15, 0)),
              (47, i32(0, 0, 30, 30, 30, 15, 15, 0)), (27, i32(1, 1)), (54, i32(30, 30)),
              (86, i32(0, 0, 0, 0, 3) + h16(0, 0, 20, 0, 10, 20)),
              (91, i32(0, 0, 0, 0, 2, 8, 4, 4) + h16(0, 0, 30, 0, 30, 30, 0, 30, 5, 5, 25, 5, 25, 25, 5, 25)),
              (85, i32(0, 0, 0, 0, 4) + h16(0, 0, 10, 30, 20, 0, 30, 30))]
    state = [(33, b""), (17, i32(8)), (9, i32(100, 100)), (11, i32(32, 32)), (10, i32(5, 5)),
             (19, i32(2)), (30, i32(0, 0, 60, 60)), (29, i32(0, 0, 10, 100)), (18, i32(2)), (25, i32(0x00FF00)),
             (39, i32(3, 2, 0xFF0000, 5)), (37, i32(3)), (43, i32(0, 0, 100, 100)), (34, i32(-1)),
             (35, struct.pack("<6f", 1, 0.2, -0.2, 1, 3, 3)), (36, struct.pack("<6fI", 1, 0, 0, 1, 2, 2, 2)),
             (59, b""), (27, i32(0, 0)), (54, i32(20, 0)), (54, i32(20, 20)), (61, b""), (60, b""),
             (63, i32(0, 0, 0, 0)), (75, i32(0, 5)), (84, i32(0, 0, 0, 0, 1, 0, 0))]
    blits = [(81, stretch_dibits(4, 4, 20, 20, dib24(2, 2, b"\x10\x80\xf0"))),
             (81, stretch_dibits(30, 4, -20, 20, dib24(2, 2, b"\x90\x20\x40"))),
             (76, i32(0, 0, 0, 0, 0, 0, 16, 16, 0xF00021, 0, 0) + b"\0" * 24 + i32(0, 0, 0, 0, 0, 0)),
             (94, i32(4, 0, 32, 40, 72, 16) + dib24(2, 2, b"\x00\xff\x00")), (37, i32(4)),
             (43, i32(0, 20, 32, 32))]
    put("emf", "shapes-32x32.emf", emf(32, 32, shapes))
    put("emf", "state-paths-clip.emf", emf(32, 32, state))
    put("emf", "blits-and-pattern.emf", emf(32, 32, blits))
    put("emf", "lometric-16x16.emf", emf(16, 16, [(17, i32(2)), (43, i32(1, -1, 15, -15)), (41, i32(8, -8, 5)
                                                   + struct.pack("<ff", 0, 270))]))

    wshapes = [(0x020B, h16(0, 0)), (0x020C, h16(64, 64)), (0x02FC, h16(0, 255, 0, 0)), (0x012D, h16(0)),
               (0x02FA, h16(0, 2, 0, 0, 0)), (0x012D, h16(1)), (0x041B, h16(30, 30, 2, 2)),
               (0x0418, h16(60, 60, 20, 20)), (0x061C, h16(10, 10, 50, 60, 30, 35)),
               (0x0817, h16(0, 64, 32, 0, 64, 64, 0, 0)), (0x081A, h16(32, 64, 0, 32, 64, 64, 0, 0)),
               (0x0830, h16(32, 0, 0, 32, 64, 64, 0, 0)), (0x0214, h16(0, 0)), (0x0213, h16(64, 64)),
               (0x0324, h16(3, 0, 0, 40, 0, 0, 40)), (0x0325, h16(3, 5, 5, 60, 5, 60, 60)),
               (0x0538, h16(2, 4, 3, 0, 0, 30, 0, 30, 30, 0, 30, 40, 40, 60, 40, 50, 60)),
               (0x01F0, h16(0)), (0x02FC, h16(2, 0, 0, 3)), (0x012D, h16(0)), (0x061D, struct.pack("<I", 0xF00021)
                                                                           + h16(16, 16, 40, 40)),
               (0x001E, b""), (0x0416, h16(32, 32, 0, 0)), (0x0415, h16(32, 8, 0, 0)),
               (0x041B, h16(64, 64, 0, 0)), (0x0127, h16(-1)), (0x0521, h16(2) + b"hi" + h16(0, 0)),
               (0x0F43, struct.pack("<I", 0xCC0020) + h16(0, 2, 2, 0, 0, 20, 20, 40, 40)
                + dib24(2, 2, b"\x20\x40\x60"))]
    put("wmf", "placeable-shapes.wmf", wmf(wshapes, box=(64, 64, 96)))
    put("wmf", "plain-shapes.wmf", wmf(wshapes))
    put("wmf", "plain-no-window.wmf", wmf([(0x041B, h16(30, 40, 10, 5)), (0x0418, h16(50, 50, 20, 20))]))

    def clp(dib, offset=93):
        return struct.pack("<HHHII", 0xC350, 1, 8, len(dib), offset) + b"\0" * 79 + dib
    put("clp", "rgb24-3x2.clp", clp(dib24(3, 2, b"\x11\x22\x33")))
    pal = b"".join(struct.pack("<I", i * 0x010101) for i in range(4))
    put("clp", "pal8-4x2.clp", clp(struct.pack("<IiiHHIIiiII", 40, 4, -2, 1, 8, 0, 0, 0, 0, 4, 0) + pal
                                    + bytes([0, 1, 2, 3, 3, 2, 1, 0])))
    put("clp", "rgb16-bitfields.clp", clp(struct.pack("<IiiHHIIiiII", 40, 2, 1, 1, 16, 3, 0, 0, 0, 0, 0)
                                          + struct.pack("<III", 0xF800, 0x7E0, 0x1F) + h16(0x1234, 0x7ABC)))
# --- PCX, TGA, portable anymaps, IFF/LBM, MacPaint, Dr. Halo ---------------------------------

def pcx(version, bits, planes, width, height, bpl, lines, palette16=b"", trailer=None):
    head = struct.pack("<BBBBHHHHHH", 10, version, 1, bits, 0, 0, width - 1, height - 1, 72, 72)
    head += palette16.ljust(48, b"\0")[:48] + bytes([0, planes]) + struct.pack("<HH", bpl, 1)
    head = head.ljust(128, b"\0")
    return head + lines + (b"\x0c" + trailer if trailer is not None else b"")


def tga(image_type, width, height, depth, pixels, cmap=b"", first=0, length=0, entry=0, descriptor=0, ident=b""):
    head = struct.pack("<BBBHHBHHHHBB", len(ident), 1 if cmap else 0, image_type, first, length, entry, 0, 0,
                       width, height, depth, descriptor)
    return head + ident + cmap + pixels


def be(fmt, *v):
    return struct.pack(">" + fmt, *v)


def chunk(cid, data):
    return cid + be("I", len(data)) + data + (b"\0" if len(data) & 1 else b"")


def ilbm(width, height, planes, body, cmap=b"", compression=0, masking=0, camg=None):
    bmhd = be("HHhhBBBBHBBHH", width, height, 0, 0, planes, masking, compression, 0, 0, 10, 11, width, height)
    chunks = chunk(b"BMHD", bmhd) + (chunk(b"CAMG", be("I", camg)) if camg is not None else b"")
    chunks += (chunk(b"CMAP", cmap) if cmap else b"") + chunk(b"ANNO", b"odd") + chunk(b"BODY", body)
    return b"FORM" + be("I", 4 + len(chunks)) + b"ILBM" + chunks


def halo(width, rows):
    out = struct.pack("<HHH", width, len(rows), 0)
    for packets in rows:
        out += struct.pack("<H", len(packets) + 1) + packets + b"\0"
    return out


def raster_seeds():
    grey16 = b"".join(bytes([i * 16, i * 16, i * 16]) for i in range(16))
    put("pcx", "v5-8bit-4x2.pcx", pcx(5, 8, 1, 4, 2, 4, b"\x01\x02\xc2\x05" + b"\xc4\x07",
                                      trailer=bytes(range(256)) * 3))
    put("pcx", "v5-24bit-3x2.pcx", pcx(5, 8, 3, 3, 2, 4, bytes(range(24))))
    put("pcx", "v5-4planes-8x1.pcx", pcx(5, 1, 4, 8, 1, 2, b"\x55\x00\x33\x00\x0f\x00\xc2\xff", grey16))
    put("pcx", "v5-2bit-5x2.pcx", pcx(5, 2, 1, 5, 2, 2, b"\x1b\x40\xc2\x27", grey16))
    put("pcx", "v0-mono-9x1.pcx", pcx(0, 1, 1, 9, 1, 2, b"\xa5\x80"))
    put("pcx", "v5-3planes-1bit-8x1.pcx", pcx(5, 1, 3, 8, 1, 1, b"\x55\x33\x0f", grey16))
    put("tga", "truecolour-raw-3x2.tga", tga(2, 3, 2, 24, bytes(range(18))))
    put("tga", "truecolour-rle-4x2-top.tga", tga(10, 4, 2, 24, b"\x83\x01\x02\x03\x01\x09\x08\x07\x06\x05\x04"
                                                   b"\x81\x00\x00\xff", descriptor=0x20))
    put("tga", "alpha32-rle-2x2.tga", tga(10, 2, 2, 32, b"\x81\x10\x20\x30\x80\x01\x01\x02\x03\x04\x05\x06\x07\x08",
                                          descriptor=0x28))
    put("tga", "mapped-rle-3x1.tga", tga(9, 3, 1, 8, b"\x82\x05", cmap=bytes(range(30)), first=2, length=10, entry=24))
    put("tga", "mapped16-raw-2x2.tga", tga(1, 2, 2, 8, b"\x00\x01\x01\x00", cmap=b"\x1f\x00\xe0\x03", length=2, entry=16))
    put("tga", "hicolour-raw-2x1-right.tga", tga(2, 2, 1, 16, b"\xff\x7f\x1f\x00", descriptor=0x10, ident=b"id"))
    put("pnm", "plain.pbm", b"P1\n# c\n5 2\n01011\n1 0 0 1 0\n")
    put("pnm", "raw.pbm", b"P4\n10 2\n\x80\x3f\x40\xff")
    put("pnm", "plain.pgm", b"P2\n3 2\n15\n0 7 15\n16 3 1\n")
    put("pnm", "raw16.pgm", b"P5\n2 1\n1000\n\x03\xe8\x01\xf4")
    put("pnm", "plain.ppm", b"P3\n2 1\n255\n255 0 0  0 128 255\n")
    put("pnm", "raw.ppm", b"P6\n2 2\n255\n" + bytes(range(12)))
    put("iff", "palette-3planes-packed.iff",
        ilbm(5, 2, 3, b"\x01\xa8\x00" * 3 + b"\xff\x50" * 3, cmap=bytes(range(15)), compression=1))
    put("iff", "masked-2planes-raw.iff", ilbm(3, 1, 2, b"\xa0\x00\x60\x00\xff\x00", cmap=bytes(range(12)), masking=1))
    put("iff", "ham6.iff", ilbm(4, 1, 6, b"\x50\x00\x30\x00\x00\x00\x00\x00\xa0\x00\x60\x00", cmap=grey16,
                               camg=0x800))
    put("iff", "ehb6.iff", ilbm(2, 1, 6, b"\x40\x00" * 6, cmap=bytes(range(96)), camg=0x80))
    put("iff", "deep24.iff", ilbm(2, 1, 24, b"\x80\x00" * 24, compression=0))
    page = bytes(512) + (b"\xfe\x00" + b"\xbc\xff") * 360 + (b"\x03\x01\x02\x03\x04" + b"\xbd\x0f") * 360
    put("macpaint", "page-576x720.mac", page)
    put("halo", "rows-6x2.cut", halo(6, [b"\x02\x01\x02\x84\x03", b"\x86\x09"]))
    put("halo", "literal-3x1.cut", halo(3, [b"\x03\x07\x08\x09"]))
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


def png_chunk(kind, data):
    import zlib
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def png(width, height, depth, colour, interlace=0, extra=b"", filters=(0, 1, 2, 3, 4), plte=None, wbits=15):
    import zlib
    samples = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[colour]
    passes = [(0, 0, 1, 1)] if not interlace else [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4),
                                                   (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]
    raw = b""
    k = 0
    for x0, y0, dx, dy in passes:
        cols = len(range(x0, width, dx))
        rows = len(range(y0, height, dy))
        if cols == 0 or rows == 0:
            continue
        nbytes = (cols * depth * samples + 7) // 8
        for r in range(rows):
            raw += bytes([filters[k % len(filters)]]) + bytes((r * 37 + i * 11 + k) & 255 for i in range(nbytes))
            k += 1
    ihdr = struct.pack(">IIBBBBB", width, height, depth, colour, 0, 0, interlace)
    body = png_chunk(b"IHDR", ihdr) + extra
    if plte is not None:
        body += png_chunk(b"PLTE", plte)
    c = zlib.compressobj(9, zlib.DEFLATED, wbits)
    body += png_chunk(b"IDAT", c.compress(raw) + c.flush()) + png_chunk(b"IEND", b"")
    return b"\x89PNG\r\n\x1a\n" + body


def png_seeds():
    pal = bytes(range(48))
    s = {}
    s["grey1-9x3.png"] = png(9, 3, 1, 0)
    s["grey2-5x2-bkgd.png"] = png(5, 2, 2, 0, extra=png_chunk(b"bKGD", b"\0\2"))
    s["grey16-3x3.png"] = png(3, 3, 16, 0, wbits=9)
    s["rgb8-4x4-filters.png"] = png(4, 4, 8, 2, extra=png_chunk(b"gAMA", b"\0\0\xb1\x8f"))
    s["rgb16-3x2.png"] = png(3, 2, 16, 2)
    s["pal4-7x3.png"] = png(7, 3, 4, 3, plte=pal)
    s["pal8-5x5-adam7.png"] = png(5, 5, 8, 3, interlace=1, plte=pal, extra=png_chunk(b"tEXt", b"k\0v"))
    s["greyalpha8-3x3.png"] = png(3, 3, 8, 4, wbits=12)
    s["rgba8-9x9-adam7.png"] = png(9, 9, 8, 6, interlace=1)
    s["rgba16-2x2.png"] = png(2, 2, 16, 6)
    return s


def gif_codes(indexes, min_size):
    """Every index as its own code, packed at the width a decoder reads it."""
    clear = 1 << min_size
    codes = [clear] + list(indexes) + [clear + 1]
    out, bits, count = bytearray(), 0, 0
    size, nxt, first = min_size + 1, clear + 2, True
    for code in codes:
        bits |= code << count
        count += size
        while count >= 8:
            out.append(bits & 255)
            bits >>= 8
            count -= 8
        if code == clear:
            size, nxt, first = min_size + 1, clear + 2, True
            continue
        if code == clear + 1:
            continue
        if first:
            first = False
        elif nxt < 4096:
            nxt += 1
        if nxt >= (1 << size) and size < 12:
            size += 1
    if count:
        out.append(bits & 255)
    blocks = b"".join(bytes([len(out[i:i + 255])]) + bytes(out[i:i + 255]) for i in range(0, len(out), 255))
    return bytes([min_size]) + blocks + b"\0"


def gif(width, height, table_bits, indexes, interlace=False, before=b"", local_bits=None, after=b";"):
    min_size = max(2, (local_bits if local_bits is not None else table_bits) + 1)
    head = b"GIF89a" + struct.pack("<HHBBB", width, height, 0x80 | table_bits, 0, 0)
    head += bytes((i * 7) & 255 for i in range(3 * (2 << table_bits)))
    flags = (0x40 if interlace else 0) | ((0x80 | local_bits) if local_bits is not None else 0)
    desc = b"," + struct.pack("<HHHHB", 0, 0, width, height, flags)
    if local_bits is not None:
        desc += bytes((i * 13) & 255 for i in range(3 * (2 << local_bits)))
    return head + before + desc + gif_codes(indexes, min_size) + after


def gif_seeds():
    s = {}
    s["pal8-6x4.gif"] = gif(6, 4, 7, [(i * 5) & 255 for i in range(24)])
    s["pal2-5x3-local.gif"] = gif(5, 3, 3, [i & 1 for i in range(15)], local_bits=0)
    s["interlaced-3x10.gif"] = gif(3, 10, 3, [i // 3 for i in range(30)], interlace=True)
    s["transparent-4x4.gif"] = gif(4, 4, 2, [i & 7 for i in range(16)], before=b"\x21\xf9\x04\x01\x00\x00\x03\x00")
    s["extensions-3x2.gif"] = gif(3, 2, 1, [0, 1, 2, 3, 2, 1],
                                  before=b"\x21\xfe\x02hi\x00\x21\xff\x0bNETSCAPE2.0\x03\x01\x00\x00\x00")
    s["two-images-2x2.gif"] = gif(2, 2, 1, [0, 1, 2, 3], after=b",\0\0\0\0\x02\0\x02\0\0\x02\x02\x4c\x01\0;")
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
    p = png_seeds()
    for name, data in p.items():
        put("png", name, data)
    gs = gif_seeds()
    for name, data in gs.items():
        put("gif", name, data)
    # Name bytes 6 and 7 choose fuzz.gif and fuzz.png; a GIF under a BMP name goes to the second pass.
    put("picture_dispatch", "png-rgba-adam7", b"\x07" + p["rgba8-9x9-adam7.png"])
    put("picture_dispatch", "gif-interlaced", b"\x06" + gs["interlaced-3x10.gif"])
    put("picture_dispatch", "gif-named-bmp", b"\x00" + gs["transparent-4x4.gif"])
    # The dispatcher's refusals and a GLS named .bmp (found in the second pass).
    put("picture_dispatch", "mz-refused.bmp", b"\x00MZ" + b"\0" * 30)
    put("picture_dispatch", "gls-named-bmp", b"\x00" + g["gls-4x2.gls"])
    metafile_seeds()
    raster_seeds()


if __name__ == "__main__":
    main()
