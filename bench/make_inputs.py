#!/usr/bin/env python3
"""Builds the benchmark inputs in OUTDIR, from a fixed seed so every run measures the same bytes.

  many.zip  100,000 small deflated members (Python's zipfile)
  big.zip   about 680 MB (1 GB unpacked) of deflated members of at most 4 MB each, made by `zip -q -r`:
            compressible text, random bytes, and half-and-half members

Inputs already built with the same parameters are kept (OUTDIR/inputs.ok records them).
"""
import os
import random
import shutil
import subprocess
import sys
import zipfile

SEED = 20240611
MANY_MEMBERS = 100_000
BIG_SOURCE_MB = 1024         # about 680 MB once zip has deflated the text parts
MEMBER_MIN, MEMBER_MAX = 256 * 1024, 4 * 1024 * 1024
STAMP = f"seed={SEED} many={MANY_MEMBERS} big={BIG_SOURCE_MB} max={MEMBER_MAX}\n"

WORDS = ("archive member folder entry deflate stored header central directory record offset "
         "comment password extract test list size packed ratio quick brown fox jumps over the "
         "lazy dog lorem ipsum dolor sit amet consectetur adipiscing elit sed do eiusmod tempor").split()


def text_pool(rnd, size):
    """A block of word text to cut text members from: compresses about three to one."""
    out, length = [], 0
    while length < size:
        line = " ".join(rnd.choices(WORDS, k=rnd.randint(6, 14))) + ".\n"
        out.append(line)
        length += len(line)
    return "".join(out).encode()[:size]


def text_bytes(rnd, pool, n):
    parts, left = [], n
    while left > 0:
        take = min(left, rnd.randint(4096, 65536))
        start = rnd.randrange(0, len(pool) - take)
        parts.append(pool[start:start + take])
        left -= take
    return b"".join(parts)


def half_bytes(rnd, pool, n):
    """Random and text blocks of 4 KB in turn."""
    parts, left, noise = [], n, True
    while left > 0:
        take = min(left, 4096)
        parts.append(rnd.randbytes(take) if noise else text_bytes(rnd, pool, take))
        noise = not noise
        left -= take
    return b"".join(parts)


def make_many(path, rnd, pool):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for i in range(MANY_MEMBERS):
            info = zipfile.ZipInfo("dir%02d/file%06d.txt" % (i % 100, i), (2021, 3, 4, 5, 6, 8))
            info.compress_type = zipfile.ZIP_DEFLATED
            n = rnd.randint(20, 600)
            start = rnd.randrange(0, len(pool) - n)
            z.writestr(info, pool[start:start + n])


def make_big(outdir, rnd, pool):
    src = os.path.join(outdir, "big")
    shutil.rmtree(src, ignore_errors=True)
    total, index = 0, 0
    kinds = ("random", "half", "text", "random", "half", "random", "text", "half")
    while total < BIG_SOURCE_MB * 1024 * 1024:
        kind = kinds[index % len(kinds)]
        n = rnd.randint(MEMBER_MIN, MEMBER_MAX)
        if kind == "random":
            data = rnd.randbytes(n)
        elif kind == "half":
            data = half_bytes(rnd, pool, n)
        else:
            data = text_bytes(rnd, pool, n)
        folder = os.path.join(src, "part%02d" % (index % 16))
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "%s%04d.%s" % (kind, index, "txt" if kind == "text" else "bin")), "wb") as f:
            f.write(data)
        total += n
        index += 1
    big = os.path.join(outdir, "big.zip")
    if os.path.exists(big):
        os.remove(big)
    subprocess.run(["zip", "-q", "-r", "big.zip", "big"], cwd=outdir, check=True)
    shutil.rmtree(src)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_inputs.py OUTDIR")
    outdir = sys.argv[1]
    os.makedirs(outdir, exist_ok=True)
    stamp = os.path.join(outdir, "inputs.ok")
    if os.path.exists(stamp) and open(stamp).read() == STAMP and all(
            os.path.exists(os.path.join(outdir, n)) for n in ("many.zip", "big.zip")):
        return
    # The write section's unpacked copy of big.zip belongs to the old inputs.
    shutil.rmtree(os.path.join(outdir, "src"), ignore_errors=True)
    rnd = random.Random(SEED)
    pool = text_pool(rnd, 4 * 1024 * 1024)
    make_many(os.path.join(outdir, "many.zip"), rnd, pool)
    make_big(outdir, rnd, pool)
    with open(stamp, "w") as f:
        f.write(STAMP)


if __name__ == "__main__":
    main()
