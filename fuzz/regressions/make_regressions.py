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
    make_cab()
    make_pictures()
    make_zip()
    make_tar()
    make_uue()
    make_resource()
    make_sfx()
    make_engines()
    sys.exit(0)
