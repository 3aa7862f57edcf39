#!/usr/bin/env python3
"""Makes the sample archive shown by the run command from files of this repository.

Usage: make_sample.py SOURCE_ROOT OUTPUT.zip
"""
import os
import sys
import zipfile

root, out = sys.argv[1], sys.argv[2]
members = [
    "README.md",
    "CMakeLists.txt",
    "core/archive_handler.h",
    "core/zip/zip_reader.cpp",
    "core/zip/zip_extract.cpp",
    "formats/format_table.cpp",
    "cli/cli_main.cpp",
]
os.makedirs(os.path.dirname(out), exist_ok=True)
tmp = out + ".tmp"
with zipfile.ZipFile(tmp, "w", zipfile.ZIP_DEFLATED) as z:
    z.comment = b"Quorbel sample archive"
    for name in members:
        path = os.path.join(root, name)
        if os.path.exists(path):
            z.write(path, "quorbel/" + name)
    z.writestr("quorbel/docs/", b"")
os.replace(tmp, out)
