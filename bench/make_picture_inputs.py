#!/usr/bin/env python3
"""Builds the pictures benchmark's input in OUTDIR: pictures.zip, 1,000 deflated 24-bit BMP
members of 1024 x 768 (2.3 MB each unpacked), every one a different gradient so no two decode
alike. Kept when already built with the same parameters (OUTDIR/pictures.ok records them).

Usage: make_picture_inputs.py OUTDIR [COUNT]
"""
import os
import struct
import sys
import zipfile

WIDTH, HEIGHT = 1024, 768


def bmp(index):
    stride = (WIDTH * 3 + 3) & ~3
    # One long band of colours; each row is a window into it, shifted by the row and the index.
    band = bytes((i * 5 + index) & 255 for i in range(3 * (WIDTH + HEIGHT + 256)))
    rows = []
    for y in range(HEIGHT):
        start = 3 * ((y + index) % (HEIGHT + 256))
        rows.append(band[start:start + 3 * WIDTH].ljust(stride, b"\0"))
    data = b"".join(rows)
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    return header + info + data


def main():
    out = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 1000
    os.makedirs(out, exist_ok=True)
    stamp = f"pictures={count} size={WIDTH}x{HEIGHT}\n"
    ok = os.path.join(out, "pictures.ok")
    target = os.path.join(out, "pictures.zip")
    if os.path.exists(target) and os.path.exists(ok) and open(ok).read() == stamp:
        return
    with zipfile.ZipFile(target + ".tmp", "w", zipfile.ZIP_DEFLATED, compresslevel=1) as z:
        for i in range(count):
            z.writestr(f"photos/picture{i:04d}.bmp", bmp(i))
    os.replace(target + ".tmp", target)
    with open(ok, "w") as f:
        f.write(stamp)


if __name__ == "__main__":
    main()
