#!/usr/bin/env python3
"""Writes the seed pictures of the TIFF and PSD fuzz targets (corpus/tiff, corpus/psd): small
files of every layout the two decoders read, put together here field by field. The builders are
shared with fuzz/regressions/make_regressions.py. Run again after changing a recipe; the files
are committed."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def put(target, name, data):
    folder = os.path.join(HERE, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


# --- TIFF -----------------------------------------------------------------------------------

def packbits(data):
    out = bytearray()
    i = 0
    while i < len(data):
        run = 1
        while i + run < len(data) and run < 128 and data[i + run] == data[i]:
            run += 1
        if run >= 2:
            out += bytes([257 - run, data[i]])
            i += run
            continue
        lit = 1
        while i + lit < len(data) and lit < 128 and not (i + lit + 1 < len(data) and data[i + lit] == data[i + lit + 1]):
            lit += 1
        out += bytes([lit - 1]) + data[i:i + lit]
        i += lit
    return bytes(out)


def lzw(data, old=False):
    """TIFF LZW: codes most significant bit first, widened one code early; old=True packs them
    least significant bit first and widens on time, as the first writers did."""
    bits = []

    def emit(code, width):
        if old:
            bits.extend((code >> i) & 1 for i in range(width))
        else:
            bits.extend((code >> (width - 1 - i)) & 1 for i in range(width))

    early = 0 if old else 1
    table = {bytes([i]): i for i in range(256)}
    next_free, width = 258, 9
    emit(256, width)
    w = b""
    for c in data:
        wc = w + bytes([c])
        if wc in table:
            w = wc
            continue
        emit(table[w], width)
        table[wc] = next_free
        next_free += 1
        if next_free + early > (1 << width) and width < 12:
            width += 1
        if next_free >= 4094:
            emit(256, width)
            table = {bytes([i]): i for i in range(256)}
            next_free, width = 258, 9
        w = bytes([c])
    if w:
        emit(table[w], width)
        # The reader adds an entry for this last code too, and may widen before the end code.
        if next_free > 258 or len(data) > 1:
            next_free += 1
            if next_free + early > (1 << width) and width < 12:
                width += 1
    emit(257, width)
    while len(bits) % 8:
        bits.append(0)
    out = bytearray()
    for i in range(0, len(bits), 8):
        byte = 0
        for j in range(8):
            if old:
                byte |= bits[i + j] << j
            else:
                byte = byte << 1 | bits[i + j]
        out.append(byte)
    return bytes(out)


SHORT, LONG = 3, 4


def tiff(width, height, strips, fields, big=False):
    """strips: the stored strip bytes; fields: {tag: (type, [values])}. StripOffsets and
    StripByteCounts are added unless given (a tag given as None is left out)."""
    e = ">" if big else "<"
    body = bytearray(b"MM\0*" if big else b"II*\0")
    body += b"\0\0\0\0"
    offsets = []
    for s in strips:
        offsets.append(len(body))
        body += s
        if len(body) % 2:
            body += b"\0"
    fields = dict(fields)
    fields.setdefault(256, (LONG, [width]))
    fields.setdefault(257, (LONG, [height]))
    fields.setdefault(273, (LONG, offsets))
    fields.setdefault(279, (LONG, [len(s) for s in strips]))
    fields = {t: v for t, v in fields.items() if v is not None}
    ifd = len(body)
    struct.pack_into(e + "I", body, 4, ifd)
    extra_at = ifd + 2 + 12 * len(fields) + 4
    entries = bytearray(struct.pack(e + "H", len(fields)))
    extra = bytearray()
    for tag in sorted(fields):
        kind, values = fields[tag]
        code = {SHORT: "H", LONG: "I", 1: "B"}[kind]
        raw = struct.pack(e + code * len(values), *values)
        if len(raw) <= 4:
            entries += struct.pack(e + "HHI", tag, kind, len(values)) + raw + b"\0" * (4 - len(raw))
        else:
            entries += struct.pack(e + "HHII", tag, kind, len(values), extra_at + len(extra))
            extra += raw + (b"\0" if len(raw) % 2 else b"")
    entries += b"\0\0\0\0"
    return bytes(body + entries + extra)


def rgb_rows(width, height, samples=3, bits=8):
    out = bytearray()
    for y in range(height):
        for x in range(width):
            for s in range(samples):
                v = (x * 37 + y * 11 + s * 70) & 255
                out += bytes([v]) if bits == 8 else struct.pack(">H", v * 257)
    return bytes(out)


def rgb_fields(spp=3, bits=8, compression=1, rows=None, extra=()):
    f = {258: (SHORT, [bits] * spp), 259: (SHORT, [compression]), 262: (SHORT, [2]), 277: (SHORT, [spp])}
    if rows is not None:
        f[278] = (LONG, [rows])
    if extra:
        f[338] = (SHORT, list(extra))
    return f


def split(data, row_bytes, rows_per_strip, pack=lambda s: s):
    step = row_bytes * rows_per_strip
    return [pack(data[i:i + step]) for i in range(0, len(data), step)]


def palette_file(width, height, bits, compression=1, pack=lambda s: s):
    row = (width * bits + 7) // 8
    data = bytes(((y * 7 + i * 3) & 255) for y in range(height) for i in range(row))
    colours = 1 << bits
    cmap = [(i * 65535 // max(colours - 1, 1)) for i in range(colours)]
    cmap = cmap + cmap[::-1] + [0x8000] * colours
    return tiff(width, height, split(data, row, 2, pack),
                {258: (SHORT, [bits]), 259: (SHORT, [compression]), 262: (SHORT, [3]), 278: (LONG, [2]),
                 320: (SHORT, cmap)}, big=bits == 4)


def difference(data, stride):
    out = bytearray(data)
    for i in range(len(out) - 1, stride - 1, -1):
        out[i] = (out[i] - out[i - stride]) & 255
    return bytes(out)


def tiff_seeds():
    s = {}
    w, h = 7, 5
    plain = rgb_rows(w, h)
    s["rgb-none-7x5.tif"] = tiff(w, h, [plain], rgb_fields())
    s["rgb-none-big-endian-7x5.tif"] = tiff(w, h, [plain], rgb_fields(), big=True)
    s["rgb-packbits-rows2.tif"] = tiff(w, h, split(plain, 21, 2, packbits), rgb_fields(compression=32773, rows=2))
    s["rgb-lzw-rows3.tif"] = tiff(w, h, split(plain, 21, 3, lzw), rgb_fields(compression=5, rows=3))
    rows = b"".join(difference(plain[i:i + 21], 3) for i in range(0, len(plain), 21))
    f = rgb_fields(compression=5)
    f[317] = (SHORT, [2])
    s["rgb-lzw-predictor.tif"] = tiff(w, h, [lzw(rows)], f)
    s["rgb-lzw-old-style.tif"] = tiff(w, h, [lzw(plain, old=True)], rgb_fields(compression=5))
    long_strip = rgb_rows(40, 30)
    s["rgb-lzw-40x30-wide-codes.tif"] = tiff(40, 30, [lzw(long_strip)], rgb_fields(compression=5))
    s["rgba-unassociated.tif"] = tiff(w, h, [rgb_rows(w, h, 4)], rgb_fields(spp=4, extra=[2]))
    s["rgba-associated-packbits.tif"] = tiff(w, h, [packbits(rgb_rows(w, h, 4))],
                                             rgb_fields(spp=4, compression=32773, extra=[1]))
    s["rgb-16bit.tif"] = tiff(w, h, [rgb_rows(w, h, 3, 16)], rgb_fields(bits=16), big=True)
    planes = [bytes(plain[i::3]) for i in range(3)]
    f = rgb_fields()
    f[284] = (SHORT, [2])
    s["rgb-planar.tif"] = tiff(w, h, planes, f)
    f = rgb_fields()
    f[266] = (SHORT, [2])
    rev = bytes(int(f"{b:08b}"[::-1], 2) for b in plain)
    s["rgb-fill-order-2.tif"] = tiff(w, h, [rev], f)
    for o in (3, 6):
        f = rgb_fields()
        f[274] = (SHORT, [o])
        s[f"rgb-orientation-{o}.tif"] = tiff(w, h, [plain], f)
    f = rgb_fields()
    f[273] = None
    f[279] = None
    s["rgb-no-strips-tiled-like.tif"] = tiff(w, h, [plain], f)
    s["palette-1bit-9x4.tif"] = palette_file(9, 4, 1)
    s["palette-4bit-5x3.tif"] = palette_file(5, 3, 4, 5, lzw)
    s["palette-8bit-packbits.tif"] = palette_file(6, 4, 8, 32773, packbits)
    s["palette-3bit-odd.tif"] = palette_file(11, 3, 3)
    s["fax3-named-only.tif"] = tiff(8, 1, [b"\0" * 4], {258: (SHORT, [1]), 259: (SHORT, [3]), 262: (SHORT, [0])})
    return s


# --- PSD ------------------------------------------------------------------------------------

def psd(width, height, channels, mode, planes, bits=8, rle=False, colour_data=b"", resources=b"",
        layers=b"", version=1):
    """planes: one bytes object per channel holding its rows (already two bytes per sample for
    16 bits)."""
    out = b"8BPS" + struct.pack(">H6xHIIHH", version, channels, height, width, bits, mode)
    out += struct.pack(">I", len(colour_data)) + colour_data
    out += struct.pack(">I", len(resources)) + resources
    out += struct.pack(">I", len(layers)) + layers
    out += struct.pack(">H", 1 if rle else 0)
    row = width * bits // 8
    if not rle:
        return out + b"".join(planes)
    counts, data = [], b""
    for p in planes:
        for y in range(height):
            packed = packbits(p[y * row:(y + 1) * row])
            counts.append(len(packed))
            data += packed
    return out + b"".join(struct.pack(">H", c) for c in counts) + data


def psd_plane(width, height, seed, bits=8):
    out = bytearray()
    for y in range(height):
        for x in range(width):
            v = ((x // 3) * 40 + y * seed) & 255
            out += bytes([v]) if bits == 8 else struct.pack(">H", v * 257)
    return bytes(out)


def psd_seeds():
    s = {}
    w, h = 9, 4
    rgb = [psd_plane(w, h, k) for k in (3, 5, 7)]
    s["rgb-raw-9x4.psd"] = psd(w, h, 3, 3, rgb)
    s["rgb-rle-9x4.psd"] = psd(w, h, 3, 3, rgb, rle=True, resources=b"8BIM" + b"\0" * 12)
    s["rgba-rle.psd"] = psd(w, h, 4, 3, rgb + [psd_plane(w, h, 11)], rle=True)
    s["rgb-five-channels.psd"] = psd(w, h, 5, 3, rgb + [psd_plane(w, h, 2), psd_plane(w, h, 13)], rle=True)
    s["grey-raw.psd"] = psd(w, h, 1, 1, [psd_plane(w, h, 9)])
    s["duotone-with-data.psd"] = psd(w, h, 1, 8, [psd_plane(w, h, 4)], colour_data=b"\0" * 32)
    palette = bytes(range(256)) + bytes(255 - i for i in range(256)) + bytes((i * 3) & 255 for i in range(256))
    s["indexed-rle.psd"] = psd(w, h, 1, 2, [psd_plane(w, h, 6)], rle=True, colour_data=palette)
    s["rgb-16bit-raw.psd"] = psd(4, 3, 3, 3, [psd_plane(4, 3, k, 16) for k in (1, 2, 3)], bits=16)
    s["grey-16bit-rle.psd"] = psd(4, 3, 1, 1, [psd_plane(4, 3, 5, 16)], bits=16, rle=True)
    s["rgb-with-layer-section.psd"] = psd(w, h, 3, 3, rgb, layers=b"\0\0\0\x10" + b"\xff" * 16)
    s["cmyk-refused.psd"] = psd(w, h, 4, 4, rgb + [psd_plane(w, h, 1)])
    return s


def main():
    for name, data in tiff_seeds().items():
        put("tiff", name, data)
    for name, data in psd_seeds().items():
        put("psd", name, data)


if __name__ == "__main__":
    main()
