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


if __name__ == "__main__":
    main()
