#!/usr/bin/env python3
"""Makes the sample archive shown by the run command from files of this repository, with our
own writer: the files are laid out in a staging folder and `quorbel-cli create` packs them.

Usage: make_sample.py SOURCE_ROOT QUORBEL_CLI OUTPUT.zip
"""
import os
import shutil
import struct
import subprocess
import sys
import zlib


def png(width, height, pixel):
    """A 24-bit PNG whose pixel (x, y) is pixel(x, y) -> (r, g, b)."""
    rows = b"".join(b"\0" + bytes(c for x in range(width) for c in pixel(x, y))
                    for y in range(height))

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


def bmp(width, height, pixel):
    """A 24-bit bottom-up BMP."""
    stride = (width * 3 + 3) & ~3
    data = b"".join(bytes(c for x in range(width) for c in reversed(pixel(x, y))).ljust(stride, b"\0")
                    for y in reversed(range(height)))
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    return header + info + data

root, cli, out = sys.argv[1], sys.argv[2], sys.argv[3]
members = [
    "README.md",
    "CMakeLists.txt",
    "core/archive_handler.h",
    "core/zip/zip_reader.cpp",
    "core/zip/zip_writer.cpp",
    "formats/format_table.cpp",
    "cli/cli_main.cpp",
]
work = out + ".d"
stage = os.path.join(work, "quorbel")
shutil.rmtree(work, ignore_errors=True)
for name in members:
    src = os.path.join(root, name)
    if os.path.exists(src):
        dst = os.path.join(stage, name)
        os.makedirs(os.path.dirname(dst), exist_ok=True)
        shutil.copy2(src, dst)
os.makedirs(os.path.join(stage, "docs"), exist_ok=True)
with open(os.path.join(stage, "docs", "about.txt"), "w") as f:
    f.write("Quorbel sample archive, made at build time by quorbel-cli create.\n")
pictures = os.path.join(stage, "pictures")
os.makedirs(pictures, exist_ok=True)
with open(os.path.join(pictures, "gradient.png"), "wb") as f:
    f.write(png(96, 64, lambda x, y: (x * 255 // 95, y * 255 // 63, 160)))
with open(os.path.join(pictures, "checker.bmp"), "wb") as f:
    f.write(bmp(64, 64, lambda x, y: (230, 230, 230) if (x // 8 + y // 8) % 2 else (40, 90, 200)))
with open(os.path.join(pictures, "sunset.bmp"), "wb") as f:
    f.write(bmp(160, 100, lambda x, y: (250 - y, 120 + y, 60 + x // 2) if y < 70 else (30, 40 + x // 4, 90)))
with open(os.path.join(pictures, "rings.bmp"), "wb") as f:
    f.write(bmp(90, 90, lambda x, y: ((x - 45) ** 2 + (y - 45) ** 2) // 60 % 2 and (200, 60, 60) or (250, 240, 200)))
# Fixed times, so that the archive is the same from one build to the next.
for folder, _, names in os.walk(stage):
    for name in names:
        os.utime(os.path.join(folder, name), (1765000000, 1765000000))
if os.path.exists(out):
    os.remove(out)
# A private settings store: the user's settings must not change what the build makes.
env = dict(os.environ, QUORBEL_REGISTRY_DIR=os.path.join(work, "registry"))
subprocess.run([cli, "create", out, work], check=True, env=env)
subprocess.run([cli, "comment", out, "--text", "Quorbel sample archive"], check=True, env=env)
shutil.rmtree(work, ignore_errors=True)
old = os.path.splitext(out)[0] + ".old"
if os.path.exists(old):
    os.remove(old)
