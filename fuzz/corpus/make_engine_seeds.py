#!/usr/bin/env python3
"""Writes the seed inputs of the ARJ, LHA and ZOO fuzz targets (corpus/<target>/).

The archives are made from our own small texts by the real `arj` (methods 0-4, a folder) and
`jlha` (-lh5-, -lh6-, -lh7-, a folder), and ZOO archives by the writer below (stored and
LZW members, a comment, a long name). The engine seeds are a method byte, the unpacked size
(4 bytes, little-endian) and the packed bytes of those members. Run again after changing a
recipe; the files are committed.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
TEXT = b"".join(b"seed line %d of a small text, with repeats\n" % (i % 37) for i in range(300))


def put(target, name, data):
    folder = os.path.join(HERE, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def engine_seed(method, size, packed):
    return bytes([method]) + struct.pack("<I", size) + packed


def arj_members(data):
    """(method, packed size, unpacked size, data offset) of each ARJ member."""
    out = []
    pos = 0
    first = True
    while pos + 4 <= len(data) and data[pos:pos + 2] == b"\x60\xea":
        size = struct.unpack_from("<H", data, pos + 2)[0]
        if size == 0:
            break
        basic = data[pos + 4:pos + 4 + size]
        p = pos + 4 + size + 4
        while True:
            ext = struct.unpack_from("<H", data, p)[0]
            p += 2
            if ext == 0:
                break
            p += ext + 4
        if not first:
            method, ftype = basic[5], basic[6]
            packed, unpacked = struct.unpack_from("<II", basic, 12)
            if ftype in (0, 1):
                out.append((method, packed, unpacked, p))
            p += packed
        first = False
        pos = p
    return out


def lha_members(data):
    out = []
    pos = 0
    while pos + 21 <= len(data) and data[pos] != 0:
        method = data[pos + 2:pos + 7]
        packed, unpacked = struct.unpack_from("<II", data, pos + 7)
        level = data[pos + 20]
        if level == 2:
            header = struct.unpack_from("<H", data, pos)[0]
        elif level == 1:
            header = data[pos] + 2
            ext = struct.unpack_from("<H", data, pos + header - 2)[0]
            while ext:
                packed -= ext
                header += ext
                ext = struct.unpack_from("<H", data, pos + header - 2)[0]
        else:
            header = data[pos] + 2
        out.append((method, packed, unpacked, pos + header))
        pos += header + packed
    return out


def lzw_pack(data):
    out = bytearray()
    acc = 0
    have = 0

    def emit(code, bits):
        nonlocal acc, have
        acc |= code << have
        have += bits
        while have >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            have -= 8

    def width(free):
        bits, limit = 9, 512
        while free >= limit and bits < 13:
            bits += 1
            limit <<= 1
        return bits

    table = {}
    nxt = 258
    emit(256, 9)
    w = None
    for c in data:
        if w is None:
            w = c
            continue
        if (w, c) in table:
            w = table[(w, c)]
            continue
        emit(w, width(nxt - 1))
        table[(w, c)] = nxt
        nxt += 1
        w = c
    if w is not None:
        emit(w, width(nxt - 1))
    emit(257, width(nxt))
    if have:
        out.append(acc & 0xFF)
    return bytes(out)


def crc16(data):
    crc = 0
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def zoo_archive(members, comment=b""):
    """members: (short name, long name, folder, method, packed, plain, member comment)."""
    out = bytearray(b"ZOO 2.10 Archive.\x1a".ljust(20, b"\0"))
    out += struct.pack("<IiiBBB", 0xFDC4A7DC, 42, -42, 2, 0, 1)
    out += struct.pack("<IHB", 0, 0, 3)
    if comment:
        struct.pack_into("<IH", out, 35, len(out), len(comment))
        out += comment
        struct.pack_into("<ii", out, 24, len(out), -len(out))
    prev = None
    for short, long_name, folder, method, packed, plain, mcomment in members:
        at = len(out)
        if prev is not None:
            struct.pack_into("<I", out, prev, at)
        ln = long_name + b"\0" if long_name else b""
        fd = folder + b"\0" if folder else b""
        var = 2 + len(ln) + len(fd) + 2 + 3 + 2 + 2
        comment_at = at + 56 + var
        data_at = comment_at + len(mcomment)
        e = struct.pack("<IBBIIHHHIIBBBBIH", 0xFDC4A7DC, 2, method, 0, data_at, 0x3C21, 0x6458,
                        crc16(plain), len(plain), len(packed), 2, 1, 0, 0,
                        comment_at if mcomment else 0, len(mcomment))
        e += short.ljust(13, b"\0") + struct.pack("<HBH", var, 127, 0)
        e += bytes([len(ln), len(fd)]) + ln + fd + struct.pack("<H", 0) + b"\xa4\x01\x40"
        e += struct.pack("<HH", 0, 1)
        out += e + mcomment + packed
        prev = at + 6
    end = len(out)
    if prev is not None:
        struct.pack_into("<I", out, prev, end)
    out += struct.pack("<IB", 0xFDC4A7DC, 2).ljust(58, b"\0")
    return bytes(out)


def run(argv, cwd):
    subprocess.run(argv, cwd=cwd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def main():
    work = tempfile.mkdtemp()
    try:
        src = os.path.join(work, "src")
        os.makedirs(os.path.join(src, "sub"))
        with open(os.path.join(src, "sub", "text.txt"), "wb") as f:
            f.write(TEXT)
        with open(os.path.join(src, "one.txt"), "wb") as f:
            f.write(b"1")
        if shutil.which("arj"):
            for m in range(5):
                name = os.path.join(work, "m%d.arj" % m)
                run(["arj", "a", "-r", "-y", "-m%d" % m, name, "*"], src)
                data = open(name, "rb").read()
                put("arj_directory", "method%d-folder.arj" % m, data)
                for method, packed, unpacked, at in arj_members(data):
                    if unpacked > 1:
                        put("arj_unpack", "method%d.bin" % method,
                            engine_seed(method, unpacked, data[at:at + packed]))
        if shutil.which("jlha"):
            for m in "567":
                name = os.path.join(work, "m%s.lzh" % m)
                run(["jlha", "ao" + m, name, "sub/text.txt", "one.txt"], src)
                data = open(name, "rb").read()
                put("lha_directory", "lh%s.lzh" % m, data)
                ids = {b"-lh0-": 0, b"-lh1-": 1, b"-lh4-": 2, b"-lh5-": 3, b"-lh6-": 4, b"-lh7-": 5}
                for method, packed, unpacked, at in lha_members(data):
                    if unpacked > 1 and method in ids:
                        put("lha_unpack", method.decode().strip("-") + ".bin",
                            engine_seed(ids[method], unpacked, data[at:at + packed]))
        lzw = lzw_pack(TEXT)
        put("zoo_unpack", "lzw.bin", engine_seed(1, len(TEXT), lzw))
        put("zoo_unpack", "stored.bin", engine_seed(0, 5, b"hello"))
        put("zoo_directory", "stored-lzw-comment.zoo", zoo_archive(
            [(b"one.txt", b"", b"", 0, b"1", b"1", b"a comment\n"),
             (b"text.txt", b"a long text name.txt", b"sub/dir", 1, lzw, TEXT, b"")],
            comment=b"archive comment"))
    finally:
        shutil.rmtree(work)
    return 0


if __name__ == "__main__":
    sys.exit(main())
