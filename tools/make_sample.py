#!/usr/bin/env python3
"""Makes the sample archive shown by the run command from files of this repository, with our
own writer: the files are laid out in a staging folder and `quorbel-cli create` packs them.

Usage: make_sample.py SOURCE_ROOT QUORBEL_CLI OUTPUT.zip
"""
import os
import shutil
import subprocess
import sys

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
