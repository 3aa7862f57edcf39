#!/usr/bin/env python3
"""Writes the seed inputs of the ACE fuzz targets (corpus/ace_directory/, corpus/ace_unpack/).

No ACE packer is at hand, so the seeds are cut from the shared samples: the small folder
archive as it is, and small archives made of a sample's main header and its smallest member
(stored, LZ77, blocked; a member of a solid archive is decoded on its own there too, which is
what a fuzzer wants to vary). The engine seeds are a method byte, the dictionary parameter, the
unpacked size (4 bytes, little-endian) and that member's packed bytes. Run again after changing
a recipe; the files are committed.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLES = os.path.normpath(os.path.join(HERE, "..", "..", "..", "shared", "testdata", "ace"))


def put(target, name, data):
    folder = os.path.join(HERE, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def headers(data):
    """(offset, header bytes, data bytes) of every block, the main header first."""
    pos = data.find(b"**ACE**") - 7
    out = []
    while pos + 4 <= len(data):
        size = struct.unpack_from("<H", data, pos + 2)[0]
        head = data[pos:pos + 4 + size]
        add = struct.unpack_from("<I", data, pos + 7)[0] if out else 0
        out.append((pos, head, data[pos + 4 + size:pos + 4 + size + add]))
        pos += 4 + size + add
    return out


def main():
    with open(os.path.join(SAMPLES, "t.ace"), "rb") as f:
        put("ace_directory", "folder-and-stored-text.ace", f.read())
    for sample, label in (("t.ace", "stored"), ("Ace.method1.ace", "lz77"),
                          ("Ace.method2.ace", "blocked")):
        with open(os.path.join(SAMPLES, sample), "rb") as f:
            data = f.read()
        blocks = headers(data)
        main_head = blocks[0][1]
        members = [b for b in blocks[1:] if b[2]]
        pos, head, packed = min(members, key=lambda b: len(b[2]))
        if label != "stored":
            put("ace_directory", "one-%s-member.ace" % label, main_head + head + packed)
        method, params = head[4 + 23], struct.unpack_from("<H", head, 4 + 25)[0]
        unpacked = struct.unpack_from("<I", head, 4 + 7)[0]
        put("ace_unpack", "%s.bin" % label,
            bytes([method, params & 15]) + struct.pack("<I", unpacked) + packed)


if __name__ == "__main__":
    main()
