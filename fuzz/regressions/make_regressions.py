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


# --- the self-extractor's reader -------------------------------------------------------------

def make_sfx():
    stub = b"\x7fELF" + bytes(1020)
    # Offsets written for the archive alone, then a stub put in front: every offset is off by
    # the stub's size, which the reader must correct, not read the stub as members.
    put("sfx_archive", "stub-prefix-unadjusted-offsets.run",
        stub + zip_archive([{"name": b"a.txt", "data": b"abc"}]))
    # A central directory claimed larger than everything before the end record.
    body = bytearray(zip_archive([{"name": b"a.txt", "data": b"abc"}]))
    body[-10:-6] = struct.pack("<I", 0x7FFFFFF0)
    put("sfx_archive", "central-size-beyond-file.run", bytes(body))
    # A central offset past the directory's real place: the correction would point before the
    # file's first byte.
    put("sfx_archive", "local-offset-before-file-start.run",
        zip_archive([{"name": b"a.txt", "data": b"abc", "offset": 0x40000000}]))
    # 1 MB of zeros deflated, stated as 10 bytes: output must stop at the stated size.
    plain = bytes(1 << 20)
    put("sfx_archive", "deflate-beyond-stated-size.run",
        zip_archive([{"name": b"z", "data": deflate(plain), "method": 8, "plain": plain,
                      "unpacked": 10}]))
    # A ZIP64 locator whose end record is missing.
    body = zip_archive([{"name": b"a.txt", "data": b"abc"}])
    end = body.rfind(b"PK\x05\x06")
    put("sfx_archive", "zip64-locator-without-record.run",
        body[:end] + struct.pack("<IIQI", 0x07064B50, 0, 0, 1) + body[end:])


# --- ARJ, LHA, ZOO ----------------------------------------------------------------------------

def arj_header(name, method=0, ftype=0, packed=0, unpacked=0, crc=0, size_override=None,
               ext=b"", host=2):
    basic = struct.pack("<BBBBBBBBIIIIHHH", 30, 11, 1, host, 0, method, ftype, 0, 0x3C215A88,
                        packed, unpacked, crc, 0, 0o100644, 0) + name + b"\0\0"
    size = len(basic) if size_override is None else size_override
    out = b"\x60\xea" + struct.pack("<H", size) + basic + struct.pack("<I", zlib.crc32(basic))
    return out + ext + b"\0\0"


def engine_input(method, unpacked, packed):
    return bytes([method]) + struct.pack("<I", unpacked) + packed


def lha_level2(exts, method=b"-lh0-", packed=0, unpacked=0):
    """exts: raw extended headers (type + data); sizes and the end marker are added here."""
    body = b""
    for i, e in enumerate(exts):
        nxt = len(exts[i + 1]) + 2 if i + 1 < len(exts) else 0
        body += e + struct.pack("<H", nxt)
    first = len(exts[0]) + 2 if exts else 0
    h = struct.pack("<H5sIIIBB", 0, method, packed, unpacked, 0x4B3D7E00, 0x20, 2)
    h += struct.pack("<HBH", 0, ord("U"), first) + body
    return struct.pack("<H", len(h)) + h[2:]


def zoo_entry(at, next_offset, name=b"a.txt", deleted=0, var=b"", data_at=0, size=0):
    e = struct.pack("<IBBIIHHHIIBBBBIH", 0xFDC4A7DC, 2, 0, next_offset, data_at, 0x3C21, 0x6458,
                    0, size, size, 2, 1, deleted, 0, 0, 0)
    return e + name.ljust(13, b"\0") + struct.pack("<HBH", len(var), 127, 0) + var


def zoo_head():
    return b"ZOO 2.10 Archive.\x1a".ljust(20, b"\0") + struct.pack("<IiiBBBIHB", 0xFDC4A7DC, 42,
                                                                   -42, 2, 0, 1, 0, 0, 3)


def make_engines():
    main = arj_header(b"main.arj", ftype=2)[:-2] + b"\0\0"
    # Only the header id: no CRC to match, so not an ARJ file.
    put("arj_directory", "id-only-no-header-crc.arj", b"\x60\xea\x1e\x00" + b"x" * 60)
    put("arj_directory", "basic-header-size-2601.arj", main + b"\x60\xea\x29\x0a" + b"\0" * 2610)
    # An extended header that claims more bytes than the file holds.
    put("arj_directory", "extended-header-past-end.arj",
        main + arj_header(b"a.txt", ext=b"\xf0\xff")[:-2])
    # Packed size far beyond the file: the member is not listed, the listing ends.
    put("arj_directory", "packed-size-past-end.arj",
        main + arj_header(b"a.txt", packed=0x7FFFFFFF, unpacked=0x7FFFFFFF))
    # Unpacked size of 4 GB from 10 bytes: the output is budgeted, never sized by the header.
    put("arj_unpack", "huge-unpacked-size-tiny-input.bin", engine_input(1, 0xFFFFFFFF, b"\0" * 10))
    put("arj_unpack", "method4-distance-before-start.bin", engine_input(4, 64, b"\xff" * 16))

    put("lha_directory", "level2-no-common-header.lzh", lha_level2([b"\x01a.txt"]))
    put("lha_directory", "level2-ext-size-below-minimum.lzh",
        lha_level2([b"\x00\0\0"])[:-2] + b"\x01\x00")
    put("lha_directory", "level2-ext-size-past-header.lzh",
        lha_level2([b"\x00\0\0", b"\x01a"])[:-2] + b"\xff\x7f")
    # Level 1: an extended header larger than the packed size it is taken from.
    h = struct.pack("<5sIIIBB", b"-lh5-", 4, 4, 0x4B3D7E00, 0x20, 1) + b"\x01a" + b"\0\0U"
    h += struct.pack("<H", 0x100)
    h = bytes([len(h), sum(h) & 0xFF]) + h
    put("lha_directory", "level1-ext-size-above-packed.lzh", h + b"\x01" + b"\0" * 0x100)
    put("lha_directory", "level3-header-size-4-gigabytes.lzh",
        struct.pack("<H5sIIIBBHBI", 4, b"-lh5-", 0, 0, 0, 0x20, 3, 0, ord("U"), 0xFFFFFFF0) + b"\0" * 8)
    # Zero packed size at every member would keep the offset; headers still move it forward.
    put("lha_directory", "many-empty-members.lzh",
        b"".join(lha_level2([b"\x00\0\0", b"\x01f%d" % i]) for i in range(500)) + b"\0")
    put("lha_unpack", "lh5-oversubscribed-code-lengths.bin",
        engine_input(3, 100, b"\x00\x10" + b"\xff" * 8))
    put("lha_unpack", "lh1-huge-size-no-input.bin", engine_input(1, 0xFFFFFFFF, b""))
    put("lha_unpack", "lh7-block-of-zero-symbols.bin", engine_input(5, 1000, b"\0" * 64))

    head = zoo_head()
    e1 = zoo_entry(42, 42, b"loop.txt")
    put("zoo_directory", "next-offset-points-at-itself.zoo", head + e1)
    e_a = zoo_entry(42, 42 + 58, b"a.txt")
    e_b = zoo_entry(42 + 58, 42, b"b.txt")
    put("zoo_directory", "next-offset-loops-back.zoo", head + e_a + e_b)
    put("zoo_directory", "deleted-entry-listed.zoo",
        head + zoo_entry(42, 42 + 58, b"gone.txt", deleted=1) + zoo_entry(42 + 58, 0, b""))
    put("zoo_directory", "long-name-length-past-entry.zoo",
        head + zoo_entry(42, 0, b"a", var=b"\xff\xff" + b"n" * 8))
    # LZW: a code far above the next free one, and a table filled without a clear.
    put("zoo_unpack", "lzw-code-beyond-next-free.bin", engine_input(1, 100, b"\x41\xfe\xff\xff"))
    put("zoo_unpack", "lzw-table-full-without-clear.bin", engine_input(1, 1 << 20, bytes(
        (i * 37) & 0xFF for i in range(40000))))

# --- RAR ------------------------------------------------------------------------------------

RAR_MARKER = b"Rar!\x1a\x07\x00"


def rar_block(btype, flags, body, size_override=None):
    size = len(body) + 7 if size_override is None else size_override
    h = struct.pack("<BHH", btype, flags, size) + body
    return struct.pack("<H", zlib.crc32(h) & 0xFFFF) + h


def rar_file(name, data=b"", flags=0x8000, packed=None, unpacked=None, version=20, method=0x30,
             host=2, attrs=0x20, extra=b""):
    body = struct.pack("<IIBIIBBHI", len(data) if packed is None else packed,
                       len(data) if unpacked is None else unpacked, host, zlib.crc32(data),
                       0x5A216000, version, method, len(name), attrs) + extra + name
    return rar_block(0x74, flags, body) + data


def make_rar():
    head = RAR_MARKER + rar_block(0x73, 0, b"\0" * 6)
    a = rar_file(b"a.txt", b"alpha")
    # A header size below the base header would find the next block where this one starts.
    put("rar_directory", "header-size-below-7.rar", head + a + rar_block(0x7A, 0, b"", 3) + a)
    put("rar_directory", "file-header-shorter-than-its-fields.rar", head + rar_block(0x74, 0x8000, b"\0" * 10))
    put("rar_directory", "name-size-past-header.rar",
        head + rar_block(0x74, 0x8000, struct.pack("<IIBIIBBHI", 0, 0, 2, 0, 0, 20, 0x30, 500, 0x20)))
    put("rar_directory", "packed-size-past-end.rar", head + rar_file(b"a.txt", b"x", packed=0x7FFFFFF0))
    put("rar_directory", "unknown-type-first.rar", head + rar_block(0x80, 0, b"") + a)
    # The 64-bit-size flag with no room for the high halves.
    put("rar_directory", "large-sizes-flag-short-header.rar", head + rar_file(b"a", b"", flags=0x8100))
    # RAR's Unicode name asking for more of the OEM name than there is.
    put("rar_directory", "unicode-name-run-past-oem.rar",
        head + rar_file(b"ab\0\x00\xc0\x7f\x05", b"", flags=0x8200))
    # A sub-block whose added data runs past the end of the file.
    put("rar_directory", "subblock-added-size-past-end.rar",
        head + a + rar_block(0x7A, 0x8000, struct.pack("<IIBIIBBHI", 0x7FFFFFFF, 0, 2, 0, 0, 20, 0x30, 0, 0)))
    # Compressed members of both methods claiming 4 GB from a few bytes, one continuing the other.
    put("rar_directory", "solid-pair-huge-sizes.rar",
        head + rar_file(b"a", b"\xff" * 12, version=15, method=0x33, unpacked=0xFFFFFFFF)
        + rar_file(b"b", b"\x00" * 12, flags=0x8010, version=20, method=0x33, unpacked=0xFFFFFFFF))
    # Size 0 with bytes after it: the table-switch check at the member's end ran on tables never
    # built (a null table).
    put("rar_unpack", "v20-zero-size-end-check-on-unbuilt-tables.bin",
        bytes([1, 0, 0, 0]) + b"\0" * 12 + b"\x07\x00\x00\x13\xd3\x7a\xf0\x80")
    put("rar_unpack", "v15-huge-size-tiny-input.bin", bytes([0, 0xff, 0xff, 0xff]) + b"\x00" * 8)
    put("rar_unpack", "v20-table-all-repeat-first.bin", bytes([3, 0x40, 0, 0]) + b"\x00" + b"\x44" * 40)


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


# --- metafiles and clipboard files --------------------------------------------------------------

def emf_file(w, h, records, handles=8, eof=True):
    sys.path.insert(0, os.path.join(HERE, "..", "corpus"))
    import make_picture_seeds
    return make_picture_seeds.emf(w, h, records, handles, eof)


def wmf_file(records, box=(32, 32, 96), objects=8):
    sys.path.insert(0, os.path.join(HERE, "..", "corpus"))
    import make_picture_seeds
    return make_picture_seeds.wmf(records, box, objects)


def clp_file(dib, length=None, offset=93, formats=1):
    return struct.pack("<HHHII", 0xC350, formats, 8, len(dib) if length is None else length, offset) + \
        b"\0" * 79 + dib


def make_metafiles():
    i = lambda *v: struct.pack("<%di" % len(v), *v)
    h = lambda *v: struct.pack("<%dh" % len(v), *v)
    rect = (43, i(0, 0, 16, 16))
    # A record of size 0 would leave the player where it is for ever: it ends the play.
    zero = bytearray(emf_file(16, 16, [rect, rect]))
    zero[88 + 4:88 + 8] = b"\0\0\0\0"
    put("emf", "record-size-zero-ends-play.emf", bytes(zero))
    longer = bytearray(emf_file(16, 16, [rect]))
    longer[88 + 4:88 + 8] = struct.pack("<I", 0x7FFFFFFC)
    put("emf", "record-size-beyond-file.emf", bytes(longer))
    put("emf", "polygon-count-beyond-record.emf", emf_file(16, 16, [(3, i(0, 0, 0, 0, 0x7FFFFFFF, 1, 1))]))
    put("emf", "polypolygon-counts-beyond-points.emf",
        emf_file(16, 16, [(8, i(0, 0, 0, 0, 2, 3, 2, 0x40000000, 0, 0, 5, 5, 9, 9))]))
    put("emf", "object-index-beyond-table.emf",
        emf_file(16, 16, [(39, i(0x7FFFFFFF, 0, 0, 0)), (37, i(0x7FFFFFF0)), (40, i(-2)), rect], handles=0xFFFF))
    big_header = bytearray(emf_file(16, 16, [rect]))
    big_header[4:8] = struct.pack("<I", 0x00100000)
    put("emf", "header-size-beyond-file.emf", bytes(big_header))
    wide = bytearray(emf_file(16, 16, [(43, i(0, 0, 2000000000, 1000000000))]))
    wide[16:24] = struct.pack("<ii", 2000000000, 999999999)
    wide[32:40] = b"\0" * 8
    put("emf", "bounds-two-billion-wide.emf", bytes(wide))
    put("emf", "dib-offset-outside-record.emf",
        emf_file(16, 16, [(81, i(0, 0, 0, 0, 0, 0, 0, 0, 2, 2, 1 << 30, 40, 80, 12, 0, 0xCC0020, 10, 10))]))
    put("emf", "dib-claims-million-square.emf",
        emf_file(16, 16, [(81, i(0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 80, 40, 120, 4, 0, 0xCC0020, 16, 16)
                           + struct.pack("<IiiHHIIiiII", 40, 1000000, 1000000, 1, 24, 0, 0, 0, 0, 0, 0)
                           + b"\0" * 4)]))
    put("emf", "three-thousand-full-repaints.emf", emf_file(64, 64, [(43, i(-5, -5, 70, 70))] * 3000))
    put("emf", "savedc-without-end.emf", emf_file(16, 16, [(33, b"")] * 6000 + [(34, i(-7000)), rect]))
    put("wmf", "placeable-zero-units-per-inch.wmf", wmf_file([(0x041B, h(8, 8, 0, 0))], box=(32, 32, 0)))
    zero_w = bytearray(wmf_file([(0x041B, h(8, 8, 0, 0))] * 2))
    zero_w[40:44] = b"\0\0\0\0"
    put("wmf", "record-size-zero-ends-play.wmf", bytes(zero_w))
    put("wmf", "polygon-count-beyond-record.wmf", wmf_file([(0x0324, h(30000, 1, 1))]))
    put("wmf", "polypolygon-counts-beyond-record.wmf", wmf_file([(0x0538, h(2, 3, 30000, 1, 1, 2, 2, 3, 3))]))
    put("wmf", "object-table-of-no-slots.wmf",
        wmf_file([(0x02FC, h(0, 0, 0, 0)), (0x012D, h(0)), (0x01F0, h(-1)), (0x041B, h(8, 8, 0, 0))], objects=0))
    put("wmf", "plain-without-window-text-only.wmf", wmf_file([(0x0521, h(2) + b"hi" + h(0, 0))], box=None))
    put("wmf", "stretchdib-broken-bitmap.wmf",
        wmf_file([(0x0F43, struct.pack("<I", 0xCC0020) + h(0, 2, 2, 0, 0, 5, 5, 0, 0, 40, 0))]))
    dib = struct.pack("<IiiHHIIiiII", 40, 1, 1, 1, 24, 0, 0, 0, 0, 0, 0) + b"\x10\x20\x30\0"
    put("clp", "data-length-beyond-file.clp", clp_file(dib, length=0xFFFFFFF0))
    put("clp", "data-offset-beyond-file.clp", clp_file(dib, offset=0x7FFFFFFF))
    put("clp", "data-offset-inside-header.clp", clp_file(dib, offset=10))
    huge = struct.pack("<IiiHHIIiiII", 40, 100000, -100000, 1, 24, 0, 0, 0, 0, 0, 0) + b"\0" * 4
    put("clp", "dib-dimensions-beyond-data.clp", clp_file(huge))
    put("clp", "two-formats.clp", clp_file(dib, formats=2))
# --- TIFF and PSD ---------------------------------------------------------------------------

def make_tiff_psd():
    sys.path.insert(0, os.path.join(HERE, "..", "corpus"))
    from make_tiff_psd_seeds import (LONG, SHORT, lzw, packbits, palette_file, psd, psd_plane, rgb_fields,
                                     rgb_rows, tiff)
    w, h = 7, 5
    plain = rgb_rows(w, h)
    # Rows of 1-bit pixels round up to whole bytes: 9 pixels take 2 bytes, not 1.
    put("tiff", "palette-1bit-odd-width-row-rounds-up.tif", palette_file(9, 4, 1))
    put("tiff", "rows-per-strip-beyond-height.tif", tiff(w, h, [plain], rgb_fields(rows=1000000)))
    put("tiff", "rows-per-strip-zero-whole-image.tif", tiff(w, h, [plain], rgb_fields(rows=0)))
    f = rgb_fields()
    f[273] = (LONG, [0x7FFFFF00])
    put("tiff", "strip-offset-beyond-file.tif", tiff(w, h, [plain], f))
    f = rgb_fields()
    f[279] = (LONG, [0xFFFFFFF0])
    put("tiff", "strip-count-beyond-file.tif", tiff(w, h, [plain], f))
    f = rgb_fields(rows=1)
    f[273] = (LONG, [8, 8])
    f[279] = (LONG, [21, 21])
    put("tiff", "fewer-strips-than-rows-need.tif", tiff(w, h, [plain], f))
    put("tiff", "uncompressed-strip-shorter-than-rows.tif", tiff(w, h, [plain[:50]], rgb_fields()))
    put("tiff", "rgb-with-two-samples.tif", tiff(w, h, [plain], rgb_fields(spp=2)))
    short_map = palette_file(5, 3, 4)
    put("tiff", "colormap-shorter-than-bits.tif", short_map.replace(
        struct.pack(">HHI", 320, SHORT, 48), struct.pack(">HHI", 320, SHORT, 45)))
    put("tiff", "packbits-run-past-strip-end.tif",
        tiff(w, h, [b"\x81\x7f" * 3], rgb_fields(compression=32773)))
    put("tiff", "packbits-literal-past-strip-end.tif",
        tiff(w, h, [b"\x7f" + b"\x55" * 128], rgb_fields(compression=32773)))
    put("tiff", "lzw-code-beyond-table.tif", tiff(w, h, [b"\x80\x10\x65\x80"], rgb_fields(compression=5)))
    put("tiff", "lzw-old-style-lsb-first.tif", tiff(w, h, [lzw(plain, old=True)], rgb_fields(compression=5)))
    put("tiff", "lzw-ends-before-strip-full.tif", tiff(w, h, [lzw(plain[:40])], rgb_fields(compression=5)))
    put("tiff", "associated-alpha-zero-coverage.tif",
        tiff(2, 1, [b"\xff\xff\xff\x00\x80\x40\x20\x80"], rgb_fields(spp=4, extra=[1])))
    f = rgb_fields()
    f[284] = (SHORT, [2])
    put("tiff", "separate-planes-offsets-for-one-plane.tif", tiff(w, h, [plain[:35]], f))
    f = rgb_fields()
    f[317] = (SHORT, [2])
    f[258] = (SHORT, [4, 4, 4])
    put("tiff", "predictor-on-4bit-samples.tif", tiff(w, h, [plain], f))
    put("tiff", "directory-offset-beyond-file.tif", b"II*\0" + struct.pack("<I", 0x7FFFFFF0) + plain)
    put("tiff", "directory-entries-beyond-file.tif", b"II*\0" + struct.pack("<IH", 8, 4000) + b"\0" * 24)
    put("tiff", "65535-square-from-few-bytes.tif",
        tiff(65535, 65535, [b"\x80\x00\x20\x20"], rgb_fields(compression=5)))
    # The three bits-per-sample values are the file's last 6 bytes: cut off.
    put("tiff", "bits-per-sample-values-beyond-file.tif", tiff(w, h, [plain], rgb_fields())[:-6])

    rows = [psd_plane(4, 2, k) for k in (1, 2, 3)]
    head = b"8BPS" + struct.pack(">H6xHIIHH", 1, 3, 2, 4, 8, 3) + b"\0" * 12
    # Runs that ask for more than the row holds are cut at the row end.
    put("psd", "rle-run-past-row-end.psd",
        head + b"\0\x01" + struct.pack(">6H", *[2] * 6) + b"\x81\x11" * 6)
    put("psd", "rle-literal-past-row-end.psd",
        head + b"\0\x01" + struct.pack(">6H", *[9] * 6) + (b"\x07" + b"ABCDEFGH") * 6)
    put("psd", "rle-row-table-beyond-file.psd", head + b"\0\x01" + b"\xff\xff")
    put("psd", "rle-rows-decode-short.psd",
        head + b"\0\x01" + struct.pack(">6H", *[2] * 6) + b"\x01\x05" * 6)
    put("psd", "raw-pixel-data-one-byte-short.psd", psd(4, 2, 3, 3, rows)[:-1])
    put("psd", "resources-length-beyond-file.psd",
        b"8BPS" + struct.pack(">H6xHIIHH", 1, 3, 2, 4, 8, 3) + b"\0\0\0\0" + b"\xff\xff\xff\xf0" + b"\0" * 30)
    put("psd", "layer-section-length-ffffffff.psd",
        b"8BPS" + struct.pack(">H6xHIIHH", 1, 3, 2, 4, 8, 3) + b"\0" * 8 + b"\xff\xff\xff\xff" + b"\0" * 30)
    put("psd", "layer-records-with-broken-runs-skipped.psd",
        psd(4, 2, 3, 3, rows, layers=struct.pack(">I", 40) + b"\x81" * 40))
    put("psd", "indexed-colour-data-767-bytes.psd", psd(4, 2, 1, 2, rows[:1], colour_data=b"\0" * 767))
    put("psd", "30000-square-from-few-bytes.psd",
        b"8BPS" + struct.pack(">H6xHIIHH", 1, 3, 30000, 30000, 8, 3) + b"\0" * 12 + b"\0\x01" + b"\0" * 40)
    put("psd", "rgba-alpha-all-zero-kept-opaque.psd", psd(4, 2, 4, 3, rows + [b"\0" * 8]))
def make_raster_pictures():
    """PCX, TGA, portable anymaps, IFF/LBM, MacPaint and Dr. Halo: each file holds one of the
    faults the decoders guard against (the builders are the seed script's)."""
    sys.path.insert(0, os.path.join(HERE, "..", "corpus"))
    import make_picture_seeds as seeds
    grey16 = bytes(48)
    put("pcx", "bytes-per-line-short-of-width.pcx", seeds.pcx(5, 8, 1, 64, 1, 2, b"\x01" * 64, trailer=bytes(768)))
    put("pcx", "three-planes-of-two-bits-palette-beyond-header.pcx", seeds.pcx(5, 2, 3, 4, 1, 1, b"\x1b\x1b\x1b", grey16))
    put("pcx", "four-planes-of-four-bits.pcx", seeds.pcx(5, 4, 4, 2, 1, 1, b"\x12" * 4, grey16))
    put("pcx", "run-crossing-scan-line-end.pcx", seeds.pcx(5, 8, 1, 4, 2, 4, b"\xc8\x05", trailer=bytes(768)))
    put("pcx", "palette-marker-inside-pixel-data.pcx",
        seeds.pcx(5, 8, 1, 300, 3, 300, (b"\x0c" * 300) * 3)[:128 + 900])
    put("pcx", "65535-square-from-few-bytes.pcx", seeds.pcx(5, 8, 3, 65535, 65535, 65535, b"\xff\x00"))
    put("tga", "colour-map-first-index-250-length-20.tga",
        seeds.tga(1, 2, 1, 8, b"\xfa\xff", cmap=bytes(60), first=250, length=20, entry=24))
    put("tga", "colour-mapped-with-24-bit-pixels.tga", seeds.tga(1, 1, 1, 24, b"\0\0\0", cmap=bytes(3), length=1, entry=24))
    put("tga", "rle-packet-past-row-end.tga", seeds.tga(10, 2, 2, 24, b"\xff\x01\x02\x03" * 2))
    put("tga", "raw-pixels-short.tga", seeds.tga(2, 300, 200, 24, b"short"))
    put("tga", "colour-map-length-beyond-file.tga", seeds.tga(1, 1, 1, 8, b"\0", cmap=b"\0" * 3, length=65535, entry=32))
    put("tga", "id-and-unused-map-skipped-past-end.tga",
        seeds.tga(2, 1, 1, 24, b"", cmap=b"\1", length=65535, entry=32, ident=b"x" * 255))
    put("pnm", "maxval-zero.pgm", b"P5\n2 2\n0\n\0\0\0\0")
    put("pnm", "samples-above-maxval.pgm", b"P2\n3 1\n10\n11 255 4000000000\n")
    put("pnm", "65535-square-header-only.ppm", b"P6\n65535 65535\n255\n\0\0\0")
    put("pnm", "sample-digits-overflowing-64-bits.ppm", b"P3\n1 1\n255\n" + b"9" * 40 + b" 1 1\n")
    put("pnm", "sixteen-bit-samples-odd-length.pgm", b"P5\n3 1\n65535\n\xff\xff\x00\x01\x80")
    body = b"\x81\x55" * 40
    put("iff", "byterun-run-past-row-end.iff", seeds.ilbm(16, 2, 1, body, cmap=bytes(6), compression=1))
    put("iff", "one-plane-negative-shift.iff", seeds.ilbm(8, 1, 1, b"\xa5\0", cmap=bytes(6)))
    put("iff", "chunk-length-beyond-file.iff",
        b"FORM" + seeds.be("I", 40) + b"ILBM" + b"ANNO" + seeds.be("I", 0xFFFFFFF0) + b"x")
    put("iff", "cmap-more-colours-than-planes-index.iff", seeds.ilbm(2, 1, 1, b"\0\0", cmap=bytes(768)))
    put("iff", "hold-and-modify-of-4-planes.iff", seeds.ilbm(2, 1, 4, bytes(8), cmap=bytes(48), camg=0x800))
    put("iff", "32-planes.iff", seeds.ilbm(2, 1, 32, bytes(64)))
    put("iff", "compression-2.iff", seeds.ilbm(2, 1, 1, bytes(2), cmap=bytes(6), compression=2))
    put("iff", "24-planes-65535-square-from-few-bytes.iff", seeds.ilbm(65535, 65535, 24, bytes(16), compression=1))
    put("iff", "body-length-short-of-rows.iff", seeds.ilbm(64, 64, 8, b"\x7f" + bytes(128), cmap=bytes(768))[:-100])
    put("macpaint", "header-only-512.mac", bytes(512))
    put("macpaint", "literal-run-past-row-end.mac", bytes(512) + b"\x7f" + bytes(128) + b"\xb9\x01" * 719)
    put("macpaint", "53072-bytes-uncompressed-rows.mac", bytes(512) + (b"\x47" + b"\xaa" * 72) * 720)
    put("halo", "row-count-short.cut", b"\x06\0\x01\0\0\0\x05\0\x02\x01\x02\x84\x03\0")
    put("halo", "run-past-width.cut", b"\x06\0\x01\0\0\0\x06\0\x02\x01\x02\x85\x03\0")
    put("halo", "30000-square-one-row.cut", b"\x30\x75\x30\x75\0\0\x03\0\xff\x01\0")
# --- JPEG --------------------------------------------------------------------------------------

def jpeg_segment(marker, body):
    return bytes([0xFF, marker]) + struct.pack(">H", len(body) + 2) + body


def jpeg_dht(class_index, counts, symbols):
    return bytes([class_index]) + bytes((list(counts) + [0] * 16)[:16]) + bytes(symbols)


def jpeg_sof(marker, width, height, comps, precision=8):
    body = struct.pack(">BHHB", precision, height, width, len(comps))
    return jpeg_segment(marker, body + b"".join(bytes(c) for c in comps))


def jpeg_sos(comps, ss=0, se=63, ahal=0):
    return jpeg_segment(0xDA, bytes([len(comps)]) + b"".join(bytes(c) for c in comps) + bytes([ss, se, ahal]))


def make_jpeg():
    """Hand-made JPEGs, each with the defect its name gives; the first byte is the fuzz
    target's option byte (0: full scale, triangle filter)."""
    soi, eoi = b"\xff\xd8", b"\xff\xd9"
    dqt = jpeg_segment(0xDB, b"\0" + b"\1" * 64)
    # DC: symbol 0 as "0"; AC: EOB "0", 0xF1 "10", 0x01 "110".
    tables = jpeg_segment(0xC4, jpeg_dht(0x00, [1], [0]) + jpeg_dht(0x10, [1, 1, 1], [0x00, 0xF1, 0x01]))
    grey = jpeg_sof(0xC0, 8, 8, [(1, 0x11, 0)])

    def put_jpeg(name, data):
        put("jpeg", name, b"\0" + data)

    put_jpeg("dht-counts-over-256.jpg", soi + dqt + jpeg_segment(
        0xC4, jpeg_dht(0x10, [0] * 14 + [17, 255], [1] * 272)) + grey + eoi)
    put_jpeg("dht-counts-beyond-segment.jpg", soi + jpeg_segment(0xC4, jpeg_dht(0x10, [0, 10], [1, 2, 3])) + eoi)
    put_jpeg("ac-run-past-63.jpg", soi + dqt + grey + tables + jpeg_sos([(1, 0)]) + b"\x5b\x6f" + eoi)
    put_jpeg("second-frame-header.jpg", soi + dqt + grey + jpeg_sof(0xC0, 4000, 4000, [(1, 0x11, 0)]) + tables +
             jpeg_sos([(1, 0)]) + b"\x3f" + eoi)
    put_jpeg("segment-length-1.jpg", soi + b"\xff\xfe\x00\x01" + dqt + grey + eoi)
    put_jpeg("sampling-ratio-3-to-2.jpg", soi + dqt + tables + jpeg_sof(
        0xC0, 48, 16, [(1, 0x31, 0), (2, 0x21, 0), (3, 0x11, 0)]) + jpeg_sos([(1, 0), (2, 0), (3, 0)]) + b"\0" + eoi)
    put_jpeg("eighteen-blocks-per-mcu.jpg", soi + dqt + tables + jpeg_sof(
        0xC0, 32, 32, [(1, 0x44, 0), (2, 0x11, 0), (3, 0x11, 0)]) + jpeg_sos([(1, 0), (2, 0), (3, 0)]) +
        b"\0" * 64 + eoi)
    prog = soi + dqt + tables + jpeg_sof(0xC2, 8, 8, [(1, 0x11, 0), (2, 0x11, 0), (3, 0x11, 0)])
    put_jpeg("progressive-se-64.jpg", prog + jpeg_sos([(1, 0)], 1, 64) + b"\0" * 8 + eoi)
    put_jpeg("progressive-ac-two-components.jpg", prog + jpeg_sos([(1, 0), (2, 0)], 1, 63) + b"\0" * 8 + eoi)
    put_jpeg("progressive-al-14.jpg", prog + jpeg_sos([(1, 0), (2, 0), (3, 0)], 0, 0, 0x0E) + b"\0" * 8 + eoi)
    put_jpeg("progressive-ac-before-dc.jpg", prog + jpeg_sos([(2, 0)], 1, 63) + b"\0" * 8 + eoi)
    put_jpeg("progressive-refinement-without-first.jpg", prog + jpeg_sos([(1, 0)], 1, 63, 0x10) + b"\xff\x00" * 8 + eoi)
    # 65535 x 65535 claimed by a few bytes: refused by the size budget, never allocated.
    put_jpeg("huge-frame-few-bytes.jpg", soi + dqt + tables + jpeg_sof(0xC2, 65535, 65535, [(1, 0x11, 0)]) +
             jpeg_sos([(1, 0)], 0, 0) + b"\0" * 16 + eoi)
    # Restart interval of one block, markers out of order.
    put_jpeg("restart-marker-out-of-order.jpg", soi + dqt + jpeg_sof(0xC0, 24, 8, [(1, 0x11, 0)]) + tables +
             jpeg_segment(0xDD, b"\0\1") + jpeg_sos([(1, 0)]) + b"\x3f\xff\xd0\x3f\xff\xd5\x3f" + eoi)
    # RGB by identifiers with a scan naming a component twice.
    put_jpeg("scan-names-component-twice.jpg", soi + dqt + tables + jpeg_sof(
        0xC0, 8, 8, [(ord("R"), 0x11, 0), (ord("G"), 0x11, 0), (ord("B"), 0x11, 0)]) +
        jpeg_sos([(ord("R"), 0), (ord("R"), 0)]) + b"\0" + eoi)
    # 16-bit quantisation entries of 65535 with the largest coefficients.
    put_jpeg("quantisation-16-bit-max.jpg", soi + jpeg_segment(0xDB, b"\x10" + b"\xff" * 128) + grey +
             jpeg_segment(0xC4, jpeg_dht(0x00, [1], [15]) + jpeg_dht(0x10, [1, 1], [0x00, 0x0F])) +
             jpeg_sos([(1, 0)]) + b"\x7f\xff\xbf\xff\xff\x00" + eoi)
# --- ACE --------------------------------------------------------------------------------------

def ace_crc16(data):
    return (zlib.crc32(data) ^ 0xFFFFFFFF) & 0xFFFF


def ace_block(body):
    return struct.pack("<HH", ace_crc16(body), len(body)) + body


def ace_main(flags=0x0000, host=2, volume=0):
    return ace_block(struct.pack("<BH", 0, flags) + b"**ACE**" + bytes([20, 20, host, volume]) +
                     struct.pack("<I", 0x5B8A0000) + b"\0" * 8)


def ace_file(name, data=b"", flags=0x0001, unpacked=None, method=0, params=0, attributes=0x20,
             crc=None, packed=None):
    unpacked = len(data) if unpacked is None else unpacked
    packed = len(data) if packed is None else packed
    crc = (zlib.crc32(data) ^ 0xFFFFFFFF) if crc is None else crc
    body = struct.pack("<BHIIIIIBBHHH", 1, flags, packed, unpacked, 0x5B8A0000, attributes, crc,
                       method, 3, params, 0, len(name)) + name
    return ace_block(body) + data


def ace_bits(bits):
    """A bit string (MSB first) as ACE's little-endian 32-bit words."""
    bits += "0" * (-len(bits) % 32)
    return b"".join(struct.pack("<I", int(bits[i:i + 32], 2)) for i in range(0, len(bits), 32))


def ace_mode_stream(mode_bits):
    """A block whose main code set has the mode symbol alone (code "0"), then that symbol and
    the mode's parameter bits."""
    width_codes = "0" * 283 + "10" + "10"          # widths by delta: only symbol 283 is 1 wide
    main = format(284, "09b") + "0000" + "0010" + "001" + "010" + "011" + width_codes
    lengths = "0" * 25                               # one length code, from zero bits
    return ace_bits(main + lengths + format(5, "015b") + "0" + mode_bits)


def ace_engine_input(method, unpacked, packed, params=0):
    return bytes([method, params]) + struct.pack("<I", unpacked) + packed


def make_ace():
    put("ace_directory", "main-header-crc-wrong.ace",
        bytes([ace_main()[0] ^ 1]) + ace_main()[1:] + ace_file(b"a.txt", b"abc"))
    put("ace_directory", "signature-before-offset-seven.ace", b"**ACE**" + b"\0" * 40)
    put("ace_directory", "header-size-past-end.ace", ace_main() + b"\0\0\xff\xff\x01")
    put("ace_directory", "packed-size-past-end.ace",
        ace_main() + ace_file(b"a.txt", b"abc", packed=0x7FFFFFFF))
    put("ace_directory", "unpacked-size-4-gigabytes-from-stored-bytes.ace",
        ace_main() + ace_file(b"a.txt", b"abc", unpacked=0xFFFFFFF0))
    put("ace_directory", "continues-in-missing-volume.ace",
        ace_main(flags=0x0800) + ace_file(b"a.txt", b"abc", flags=0x2001, unpacked=10))
    put("ace_directory", "unix-host-symlink.ace",
        ace_main(host=3) + ace_file(b"link", b"/etc/passwd", attributes=0o120777 << 16))
    put("ace_directory", "name-longer-than-header.ace",
        ace_main() + ace_block(struct.pack("<BHIIIIIBBHHH", 1, 1, 0, 0, 0, 0x20, 0, 0, 0, 0, 0, 500)))
    put("ace_directory", "lz77-member-of-zero-bits.ace",
        ace_main() + ace_file(b"z.bin", b"\0" * 64, method=1, unpacked=1000))

    put("ace_unpack", "lz77-huge-size-no-input.bin", ace_engine_input(1, 0xFFFFFFFF, b""))
    put("ace_unpack", "zero-bits-empty-blocks-forever.bin", ace_engine_input(2, 5000, b"\0" * 256))
    put("ace_unpack", "lz77-mode-symbol.bin", ace_engine_input(1, 100, ace_mode_stream("00000001")))
    put("ace_unpack", "blocked-delta-distance-zero.bin",
        ace_engine_input(2, 100, ace_mode_stream("00000001" + "00000000" + format(100, "017b"))))
    put("ace_unpack", "blocked-delta-longer-than-member.bin",
        ace_engine_input(2, 100, ace_mode_stream("00000001" + "00000100" + format(131071, "017b"))))
    put("ace_unpack", "blocked-sound-mode-without-samples.bin",
        ace_engine_input(2, 100, ace_mode_stream("00000011")))
    put("ace_unpack", "blocked-pic-width-zero.bin",
        ace_engine_input(2, 100, ace_mode_stream("00000111" + "0" * 12 + "0" + "01" + "0" + "1")))
    put("ace_unpack", "blocked-pic-width-endless.bin",
        ace_engine_input(2, 100, ace_mode_stream("00000111" + "0" * 12 + "1" * 400)))
    # Found by the fuzzer: a block that holds no symbols was counted down below zero, and the
    # mode switches after it queued billions of symbols.
    put("ace_unpack", "empty-block-count-wraps.bin", bytes.fromhex(
        "020009000000e514838d000000dc000000000000006f000000000000000000000000000000000000"
        "00000000000000004001076c0000728a9b01480077deeea821000000000000000000000000080080"
        "14000000010062d0041f3fff000000000000000002000000fa00000000006ebd"))
    put("ace_unpack", "blocked-unknown-mode.bin", ace_engine_input(2, 100, ace_mode_stream("11111111")))

# --- PNG and GIF -----------------------------------------------------------------------------

def png_chunk(kind, data, length=None):
    size = len(data) if length is None else length
    return struct.pack(">I", size) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def png_file(width, height, depth, colour, idat, before=b"", plte=None):
    body = png_chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, depth, colour, 0, 0, 0)) + before
    if plte is not None:
        body += png_chunk(b"PLTE", plte)
    return b"\x89PNG\r\n\x1a\n" + body + png_chunk(b"IDAT", idat) + png_chunk(b"IEND", b"")


def zlib_wrap(raw_deflate, cmf=0x78, adler=0):
    flg = 0
    while (cmf * 256 + flg) % 31:
        flg += 1
    return bytes([cmf, flg]) + raw_deflate + struct.pack(">I", adler)


class Bits:
    def __init__(self):
        self.bits = []

    def raw(self, value, n):
        self.bits += [(value >> i) & 1 for i in range(n)]

    def code(self, value, n):
        self.bits += [(value >> i) & 1 for i in range(n - 1, -1, -1)]

    def fixed(self, sym):
        if sym < 144:
            self.code(0x30 + sym, 8)
        elif sym < 256:
            self.code(0x190 + sym - 144, 9)
        elif sym < 280:
            self.code(sym - 256, 7)
        else:
            self.code(0xC0 + sym - 280, 8)

    def data(self):
        b = self.bits + [0] * (-len(self.bits) % 8)
        return bytes(sum(b[i + j] << j for j in range(8)) for i in range(0, len(b), 8))


def gif_file(width, height, data, min_size=2, before=b"", after=b";"):
    return (b"GIF89a" + struct.pack("<HHBBB", width, height, 0x81, 0, 0) + b"\0\0\0\xff\xff\xff\x80\x80\x80\x10\x20\x30"
            + before + b"," + struct.pack("<HHHHB", 0, 0, width, height, 0) + bytes([min_size]) + data + after)


def make_png_gif():
    raw = b"\0" + bytes(range(12)) + b"\0" + bytes(range(12, 24))  # 4 x 2 RGB rows, no filter
    good = deflate(raw)
    put("png", "zlib-window-16k.png", png_file(4, 2, 8, 2, zlib_wrap(good, 0x68)))
    put("png", "zlib-window-256-bytes.png", png_file(4, 2, 8, 2, zlib_wrap(good, 0x08)))
    put("png", "grey-bkgd-two-bytes.png",
        png_file(4, 2, 8, 0, zlib_wrap(deflate(b"\0abcd\0efgh")), before=png_chunk(b"bKGD", b"\0\x40")))
    put("png", "ancillary-length-2-gigabytes.png",
        png_file(4, 2, 8, 2, zlib_wrap(good), before=struct.pack(">I", 0x7FFFFFF0) + b"zzZz" + b"\0" * 16))
    put("png", "idat-8000-square-rgba-from-few-bytes.png", png_file(8000, 8000, 8, 6, zlib_wrap(good)))
    rep = Bits()
    rep.raw(1, 1); rep.raw(2, 2); rep.raw(0, 5); rep.raw(0, 5); rep.raw(0, 4)
    rep.raw(1, 3); rep.raw(0, 3); rep.raw(0, 3); rep.raw(1, 3)
    rep.code(1, 1); rep.raw(3, 2); rep.raw(0, 32)
    put("png", "inflate-repeat-without-previous-length.png", png_file(4, 2, 8, 2, zlib_wrap(rep.data())))
    over = Bits()
    over.raw(1, 1); over.raw(2, 2); over.raw(0, 5); over.raw(0, 5); over.raw(0, 4)
    for _ in range(4):
        over.raw(1, 3)
    over.raw(0, 32)
    put("png", "inflate-oversubscribed-code-lengths.png", png_file(4, 2, 8, 2, zlib_wrap(over.data())))
    for sym in (286, 287):
        b = Bits()
        b.raw(1, 1); b.raw(1, 2); b.fixed(0); b.fixed(sym); b.code(0, 5); b.fixed(256)
        put("png", "inflate-length-symbol-%d.png" % sym, png_file(1, 259, 8, 0, zlib_wrap(b.data())))
    far = Bits()
    far.raw(1, 1); far.raw(1, 2); far.fixed(0); far.fixed(257); far.code(9, 5); far.raw(0, 3); far.fixed(256)
    put("png", "inflate-distance-before-output.png", png_file(1, 2, 8, 0, zlib_wrap(far.data())))
    stored = b"\0" + struct.pack("<HH", len(raw), len(raw) ^ 0xFFFF) + raw + b"\x03\x00"
    put("png", "nonfinal-block-then-empty-final-block.png", png_file(4, 2, 8, 2, zlib_wrap(stored)))

    def lzw(codes, min_size=2):
        """Codes packed at the width a decoder reads them, in sub-blocks."""
        clear = 1 << min_size
        out, acc, count = bytearray(), 0, 0
        size, nxt, first = min_size + 1, clear + 2, True
        for code in codes:
            acc |= code << count
            count += size
            while count >= 8:
                out.append(acc & 255)
                acc >>= 8
                count -= 8
            if code == clear:
                size, nxt, first = min_size + 1, clear + 2, True
                continue
            if code == clear + 1:
                continue
            if first:
                first = False
            else:
                nxt += 1
            if nxt >= (1 << size) and size < 12:
                size += 1
        if count:
            out.append(acc & 255)
        return bytes([len(out)]) + bytes(out) + b"\0"

    lzw_4 = lzw([4, 0, 1, 2, 3, 5])
    put("gif", "min-code-size-zero.gif", gif_file(2, 2, b"\x02\x01\x02\0", min_size=0))
    put("gif", "min-code-size-143.gif", gif_file(2, 2, b"\x02\x01\x02\0", min_size=143))
    put("gif", "declared-65535-by-1321-from-44-bytes.gif", gif_file(65535, 1321, lzw_4))
    put("gif", "end-code-then-more-data.gif", gif_file(4, 4, lzw([4, 1, 2, 5, 3, 3, 3, 3])))
    put("gif", "unknown-extension-with-image-bytes.gif", gif_file(2, 2, lzw_4, before=b"\x21\x99\x02\x2c\x3b\0"))
    put("gif", "code-beyond-next-free.gif", gif_file(4, 4, lzw([4, 1, 2, 3, 14, 1, 1])))
    put("gif", "junk-after-complete-image.gif", gif_file(2, 2, lzw_4, after=b"\x21\xf9\x09"))
    put("gif", "transparent-index-last-control-byte.gif",
        gif_file(2, 2, lzw_4, before=b"\x21\xf9\x04\x01\x10\x27\x02\0"))

# --- CAB -------------------------------------------------------------------------------------

def cab_file(members, next_cab=None, files_offset=None, data_offset=None, folder_index=0, attribs=0x20,
             claimed=None):
    """A stored cabinet: members are (name, data); one folder, one data block. `claimed`
    replaces every entry's size."""
    flags = 2 if next_cab else 0
    texts = (next_cab + b"\0" + b"disk\0") if next_cab else b""
    table = b""
    payload = b""
    for name, data in members:
        size = len(data) if claimed is None else claimed
        table += struct.pack("<IIHHHH", size, len(payload), folder_index, 0x5A21, 0x6000, attribs)
        table += name + b"\0"
        payload += data
    header_size = 36 + len(texts) + 8
    first_files = header_size if files_offset is None else files_offset
    first_data = header_size + len(table)
    block = struct.pack("<IHH", 0, len(payload), len(payload)) + payload
    folder = struct.pack("<IHH", first_data if data_offset is None else data_offset, 1, 0)
    total = first_data + len(block)
    header = struct.pack("<4sIIIIIBBHHHHH", b"MSCF", 0, total, 0, first_files, 0, 3, 1, 1,
                         len(members), flags, 77, 0)
    return header + texts + folder + table + block


def make_cab():
    put("cab", "files-offset-past-end.cab", cab_file([(b"a.txt", b"alpha")], files_offset=0x7FFFFFF0))
    put("cab", "data-offset-past-end.cab", cab_file([(b"a.txt", b"alpha")], data_offset=0xFFFFFF00))
    put("cab", "next-cabinet-climbs-out.cab",
        cab_file([(b"a.txt", b"alpha")], next_cab=b"../fuzz.cab", folder_index=0xFFFE))
    put("cab", "next-cabinet-is-itself.cab",
        cab_file([(b"a.txt", b"alpha")], next_cab=b"fuzz.cab", folder_index=0xFFFE))
    good = cab_file([(b"a.txt", b"alpha"), (b"b.txt", b"bee")])
    # The second entry's size says 4000 where the folder holds 3 bytes.
    at = good.index(b"b.txt\0") - 16
    put("cab", "entry-size-beyond-folder.cab", good[:at] + struct.pack("<I", 4000) + good[at + 4:])
    put("cab", "name-without-terminator.cab", good[:good.index(b"b.txt")] + b"b.txt")
    put("cab", "same-name-in-two-cases.cab", cab_file([(b"Readme", b"one"), (b"README", b"two")]))
    # Found by fuzz_cab: a folder entry unpacks to nothing, whatever size it lists.
    put("cab", "folder-entry-with-size.cab", cab_file([(b"dir", b"abc")], attribs=0x13E8))
    put("cab", "entry-claims-4-gigabytes.cab", cab_file([(b"a.txt", b"alpha")], claimed=0xFFFFFFF0))



if __name__ == "__main__":
    make_jpeg()
    make_cab()
    make_pictures()
    make_tiff_psd()
    make_raster_pictures()
    make_png_gif()
    make_zip()
    make_tar()
    make_uue()
    make_resource()
    make_sfx()
    make_engines()
    make_metafiles()
    make_rar()
    make_ace()
    sys.exit(0)
