#!/usr/bin/env python3
"""Writes the defect-named regression inputs of the fuzz targets (regressions/<target>/).

Each file reproduces one fault a fuzzer or a peer's test archive found; the replay test runs
them under the sanitizers. Run again after changing a recipe; the files are committed.
"""
import os
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def put(target, name, data):
    folder = os.path.join(HERE, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


# --- ZIP -------------------------------------------------------------------------------------

def deflate(data):
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush()


def zip_archive(members, prefix=b""):
    """members: dicts with name, data (stored bytes), method, crc, unpacked, packed (record
    values, defaulting to the data's), offset (central record's offset, default: its own local
    header), extra_central, attrs, local (write a local header, default True)."""
    out = bytearray(prefix)
    central = bytearray()
    for m in members:
        name = m["name"]
        data = m.get("data", b"")
        method = m.get("method", 0)
        crc = m.get("crc", zlib.crc32(m.get("plain", data)) & 0xFFFFFFFF)
        packed = m.get("packed", len(data))
        unpacked = m.get("unpacked", len(m.get("plain", data)))
        offset = len(out)
        if m.get("local", True):
            out += struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, method, 0, 0x5A88, crc,
                               min(packed, 0xFFFFFFFF), min(unpacked, 0xFFFFFFFF), len(name), 0)
            out += name + data
        extra = m.get("extra_central", b"")
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 0, method, 0, 0x5A88,
                               crc, min(packed, 0xFFFFFFFF), min(unpacked, 0xFFFFFFFF), len(name),
                               len(extra), 0, 0, 0, m.get("attrs", 0x20), m.get("offset", offset))
        central += name + extra
    start = len(out)
    out += central
    out += struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(members), len(members), len(central),
                       start, 0)
    return bytes(out)


def zip64_sizes(unpacked, packed):
    return struct.pack("<HHQQ", 0x0001, 16, unpacked, packed)


def make_zip():
    # Packed size far above the unpacked one: the ratio must saturate, not overflow an int.
    put("zip", "ratio-int-overflow.zip",
        zip_archive([{"name": b"grown.bin", "data": b"x", "packed": 0xFFFFFFF0, "unpacked": 1}]))
    # ZIP64 sizes whose sum passes the largest 64-bit size.
    huge = 0x7000000000000000
    put("zip", "total-size-int64-overflow.zip",
        zip_archive([{"name": b"a", "data": b"", "packed": 0xFFFFFFFF, "unpacked": 0xFFFFFFFF,
                      "extra_central": zip64_sizes(huge, 0)},
                     {"name": b"b", "data": b"", "packed": 0xFFFFFFFF, "unpacked": 0xFFFFFFFF,
                      "extra_central": zip64_sizes(huge, 0)}]))
    # One name of 64 KB made of 32,000 folders: the tree must not grow with the depth squared.
    put("zip", "deep-name-quadratic-tree.zip",
        zip_archive([{"name": b"a/" * 32760 + b"f", "data": b"z"}]))
    # A hundred central records pointing at the same 1 MB of deflated zeros.
    plain = bytes(1 << 20)
    packed = deflate(plain)
    first = {"name": b"0", "data": packed, "method": 8, "plain": plain}
    put("zip", "overlapping-members-bomb.zip",
        zip_archive([first] + [{"name": b"%d" % i, "data": packed, "method": 8, "plain": plain,
                                "offset": 0, "local": False} for i in range(1, 100)]))
    # A folder marked by its MS-DOS attribute only, and a file below it.
    put("zip", "dos-folder-attribute-without-slash.zip",
        zip_archive([{"name": b"folder", "attrs": 0x10}, {"name": b"folder/inner.txt", "data": b"in"}]))
    # A name with a zero byte in it: the name ends there.
    put("zip", "name-with-zero-byte.zip",
        zip_archive([{"name": b"visible.txt\x00hidden", "data": b"x"}]))


# --- TAR -------------------------------------------------------------------------------------

def tar_header(name, size=0, typeflag=b"0", extra=None):
    h = bytearray(512)
    h[0:len(name)] = name[:100]
    h[100:108] = b"0000644\x00"
    h[108:116] = b"0000000\x00"
    h[116:124] = b"0000000\x00"
    h[124:136] = b"%011o\x00" % size
    h[136:148] = b"%011o\x00" % 1577836800
    h[156:157] = typeflag
    h[257:265] = b"ustar  \x00"
    if extra:
        for offset, value in extra:
            h[offset:offset + len(value)] = value
    h[148:156] = b"        "
    h[148:156] = b"%06o\x00 " % sum(h)
    return bytes(h)


def pad(data):
    return data + bytes(-len(data) % 512)


def pax(records):
    body = b""
    for k, v in records:
        rest = b" " + k + b"=" + v + b"\n"
        n = len(rest) + 1
        while len(b"%d" % n) + len(rest) != n:
            n += 1
        body += b"%d" % n + rest
    return body


def make_tar():
    # An empty GNU long-name record: no null pointer, and the member after it is kept.
    put("tar", "empty-gnu-longname-drops-member.tar",
        tar_header(b"././@LongLink", 0, b"L") + tar_header(b"kept.txt", 5) + pad(b"kept\n"))
    # A 128 KB long name of 64,000 folders.
    long_name = b"d/" * 65000 + b"f"
    put("tar", "deep-longname-bad-alloc.tar",
        tar_header(b"././@LongLink", len(long_name) + 1, b"L") + pad(long_name + b"\x00")
        + tar_header(b"x", 1) + pad(b"x"))
    # A 2 KB sparse member claiming 16 GB.
    sparse = [(b"%011o\x00" % 0, b"%011o\x00" % 512)]
    extra = [(386, sparse[0][0]), (398, sparse[0][1]), (483, b"%011o\x00" % (16 << 30))]
    put("tar", "sparse-size-16-gigabytes.tar", tar_header(b"sparse.bin", 512, b"S", extra) + pad(b"s" * 512))
    # A Solaris ACL record is not a member.
    put("tar", "solaris-acl-record-listed.tar",
        tar_header(b"file.txt", 0, b"A") + pad(b"") + tar_header(b"file.txt", 3) + pad(b"abc"))
    # A global pax path must not name every member after it.
    g = pax([(b"path", b"global-name"), (b"comment", b"set")])
    put("tar", "global-pax-path-names-members.tar",
        tar_header(b"pax_global_header", len(g), b"g") + pad(g)
        + tar_header(b"one.txt", 1) + pad(b"1") + tar_header(b"two.txt", 1) + pad(b"2"))
    # Two pax headers before one member: the second holds.
    x1 = pax([(b"path", b"first-name"), (b"mtime", b"1")])
    x2 = pax([(b"path", b"second-name")])
    put("tar", "consecutive-pax-headers-merged.tar",
        tar_header(b"PaxHeaders/1", len(x1), b"x") + pad(x1)
        + tar_header(b"PaxHeaders/2", len(x2), b"x") + pad(x2)
        + tar_header(b"member", 1) + pad(b"m"))
    # An empty member whose header is the last block: its data sits at the very end.
    put("tar", "empty-member-at-end-from-memory.tar", tar_header(b"a.txt", 1) + pad(b"a") + tar_header(b"empty", 0))


# --- UUE -------------------------------------------------------------------------------------

def make_uue():
    # Many empty blocks: each must not cost a wiped megabyte.
    put("uue", "empty-blocks-megabyte-buffers.uue", b"begin 644 e\n`\nend\n" * 1500)


# --- the installer's reader ------------------------------------------------------------------

def make_resource():
    put("resource_archive", "deep-path-recursive-mkdir.zip",
        zip_archive([{"name": b"d/" * 20000 + b"f", "data": b"z"}]))
    put("resource_archive", "climbing-name.zip",
        zip_archive([{"name": b"../outside.txt", "data": b"out"}]))


# --- pictures -------------------------------------------------------------------------------

def bmp_file(width, height, bits, pixels, table=b"", compression=0, header=40, used=0, offset=None,
             image_size=None):
    info = struct.pack("<IiiHHIIiiII", header, width, height, 1, bits, compression,
                       len(pixels) if image_size is None else image_size, 0, 0, used, 0)
    info += b"\0" * (header - len(info))
    start = 14 + len(info) + len(table) if offset is None else offset
    return b"BM" + struct.pack("<IHHI", start + len(pixels), 0, 0, start) + info + table + pixels


def make_pictures():
    gray = b"".join(struct.pack("<I", i * 0x010101) for i in range(256))
    # Each of these made the old decoder allocate, index or copy beyond what the file holds.
    put("bmp", "65535-square-32bit-block-size.bmp", bmp_file(65535, 65535, 24, b"\x11" * 64))
    put("bmp", "negative-height-65472-rows.bmp", bmp_file(4, -64, 8, b"\x01" * 4, gray))
    put("bmp", "colours-used-beyond-bitcount.bmp", bmp_file(8, 1, 1, b"\xff\0\0\0", gray[:8], used=100000))
    put("bmp", "palette-index-beyond-short-table.bmp", bmp_file(4, 1, 8, b"\xff\xfe\x02\x01", gray[:8], used=2))
    put("bmp", "v5-header-table-at-138.bmp", bmp_file(2, 1, 8, b"\x05\x06\0\0", gray, header=124))
    put("bmp", "short-pixel-rows-uninitialised.bmp", bmp_file(16, 16, 24, b"\x22" * 100))
    put("bmp", "rle8-run-past-right-edge.bmp", bmp_file(4, 2, 8, b"\xff\x01\0\x01", gray, compression=1))
    put("bmp", "rle4-absolute-past-right-edge.bmp",
        bmp_file(3, 1, 4, b"\0\x20" + b"\x12" * 16 + b"\0\x01", gray[:64], compression=2))
    put("bmp", "rle8-delta-far-above-top.bmp", bmp_file(4, 4, 8, b"\x02\x01\0\x02\xff\xff\x02\x01\0\x01", gray,
                                                      compression=1))
    put("bmp", "bits-offset-inside-header.bmp", bmp_file(2, 2, 24, b"\x33" * 16, offset=20))
    put("bmp", "bitfields-huge-image-size.bmp",
        bmp_file(2, 2, 16, struct.pack("<III", 0xF800, 0x7E0, 0x1F) + b"\x44" * 8, compression=3,
                 image_size=0x7FFFFFFF))
    # Found by the fuzzer as a slow unit: a few hundred bytes of RLE4 that end early make a legitimate
    # 243 x 8450 picture; it must load (mostly transparent) in reasonable time.
    rle = b"\x0c\x12" * 8 + b"\0\0" * 4 + b"\0\x02\x10\x10" + b"\x05\x34\0\x01"
    put("bmp", "rle4-ends-early-two-megapixels.bmp", bmp_file(243, 8450, 4, rle, gray[:64], compression=2))
    put("picture_dispatch", "mz-named-bmp.bmp", b"\0MZ" + bmp_file(2, 2, 24, b"\0" * 16)[2:])
    put("picture_dispatch", "pk-named-bmp.bmp", b"\0PK" + bmp_file(2, 2, 24, b"\0" * 16)[2:])
    put("glimmer", "glc-65535-square-from-few-bytes.glc",
        b"KESTRA-GLC" + struct.pack("<BBHHI", 1, 0, 65535, 65535, 8) + b"\xff\0\0\0" * 2)
    put("glimmer", "gls-index-beyond-palette.gls",
        b"KESTRA-GLS" + struct.pack("<BBHHHBB", 1, 0, 2, 1, 1, 0, 0) + b"\0\0\0" + b"\0\x09")
    put("glimmer", "glc-run-crosses-row-end.glc",
        b"KESTRA-GLC" + struct.pack("<BBHHI", 1, 0, 2, 2, 8) + b"\x83\1\2\3" + b"\x80\1\2\3")


if __name__ == "__main__":
    make_pictures()
    make_zip()
    make_tar()
    make_uue()
    make_resource()
    sys.exit(0)
