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


def bits_to_words(bits):
    bits += "0" * (-len(bits) % 32)
    return b"".join(struct.pack("<I", int(bits[i:i + 32], 2)) for i in range(0, len(bits), 32))


def code_set(count, widths):
    """Widths sent as deltas modulo 6; delta code k is k ones and a zero."""
    out = format(count - 1, "09b") + "0000" + "0110" + "".join(format(w, "03b") for w in range(1, 8))
    previous = 0
    for i in range(count):
        w = widths.get(i, 0)
        out += "1" * ((w - previous) % 6) + "0"
        previous = w
    return out


def symbol(width):
    return "1" * (width - 1) + "0"


def lz_around_mode(mode):
    """An LZ77 block: 'A', a switch to `mode`, then 'B' (waiting for the way back)."""
    return (code_set(284, {65: 1, 66: 2, 283: 3}) + "0" * 25 + format(3, "015b") + symbol(1) +
            symbol(3) + format(mode, "08b") + symbol(2))


def main():
    # The SOUND (8-bit) and PIC modes, which the samples do not use.
    sound = lz_around_mode(3) + code_set(289, {288: 1, 1: 2, 4: 3, 34: 4, 35: 5}) * 3
    sound += format(7, "015b") + "".join(symbol(w) for w in (4, 5, 2, 3, 4, 4, 1)) + "0" * 8
    put("ace_unpack", "sound8.bin", bytes([2, 0]) + struct.pack("<I", 9) + bits_to_words(sound))
    pic = lz_around_mode(7) + format(2, "012b") + "0" + "01" + "0" + "1" + "100110" + "11010" + "0" * 9
    put("ace_unpack", "pic.bin", bytes([2, 0]) + struct.pack("<I", 4) + bits_to_words(pic))
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
