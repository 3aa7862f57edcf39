#!/usr/bin/env python3
"""Writes cli/text_order.txt: the code sections quorbel-cli runs in its everyday commands, so
that the linker puts them side by side. A small run of the program then touches a few pages of
code instead of one in every part of a large program, and each page it touches costs a fault.

Usage, from the repository root, with a release build of quorbel-cli in BUILD (default build):
    tools/text_order.py [BUILD]
Needs valgrind. The functions are those callgrind sees run in list, test and extract of one
sample per archive format. A stale list is harmless: names the program no longer has are
ignored by the linker, and code missing from it is placed after the listed sections.
"""
import os
import re
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def executed_functions(program, args, cwd, env):
    with tempfile.NamedTemporaryFile(suffix=".cg") as out:
        subprocess.run(["valgrind", "--tool=callgrind", "--demangle=no", "--compress-strings=no",
                        "--compress-pos=no", "--callgrind-out-file=" + out.name, program] + args,
                       cwd=cwd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        names, current = [], None
        for line in open(out.name, errors="replace"):
            if line.startswith("ob="):
                current = line[3:].strip()
            elif line.startswith("fn=") and current == program:
                names.append(line[3:].strip())
        return names


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    program = os.path.realpath(os.path.join(build, "cli", "quorbel-cli"))
    testdata = os.path.join(ROOT, "..", "shared", "testdata")
    samples = []
    for folder in ["cab", "zip", "rar", "ace", "arj", "lha", "zoo", "tar", "gz"]:
        path = os.path.join(testdata, folder)
        if not os.path.isdir(path):
            continue
        files = sorted(f for f in os.listdir(path)
                       if os.path.isfile(os.path.join(path, f)) and not f.endswith(".expected"))
        if files:
            samples.append(os.path.join(path, files[0]))
    order, seen = [], set()
    with tempfile.TemporaryDirectory() as work:
        env = dict(os.environ, QUORBEL_REGISTRY_DIR=os.path.join(work, "registry"),
                   TMPDIR=work, LC_ALL="C")
        runs = [["--version"]]
        for sample in samples:
            runs += [["list", sample], ["test", sample],
                     ["extract", sample, "-d", os.path.join(work, "out"), "--overwrite"]]
        for args in runs:
            for name in executed_functions(program, args, work, env):
                if name not in seen and re.match(r"^[A-Za-z_][\w.$]*$", name):
                    seen.add(name)
                    order.append(name)
    with open(os.path.join(ROOT, "cli", "text_order.txt"), "w") as f:
        for name in order:
            # GCC names a function's section after it; static initialisers and main go to
            # .text.startup. A constructor or destructor that callgrind names by one of its
            # variants (complete, base) lives in the section of the other.
            variants = [name]
            for a, b in (("C1E", "C2E"), ("C2E", "C1E"), ("D1E", "D2E"), ("D2E", "D1E")):
                if a in name:
                    variants.append(name.replace(a, b, 1))
            for v in variants:
                f.write(".text.%s\n.text.startup.%s\n" % (v, v))
    print("%d functions" % len(order))


if __name__ == "__main__":
    main()
