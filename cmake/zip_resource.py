#!/usr/bin/env python3
"""Packs files into a ZIP resource with our own writer (`quorbel-cli create`), the same way at
every build: the inputs are copied into a staging folder with fixed modes and times, and the
writer runs in UTC with a private settings store.

Usage: zip_resource.py QUORBEL_CLI OUTPUT.zip ITEM...

An ITEM that is a folder contributes its contents (member paths relative to it); a file is
stored at the top level under its own name.
"""
import os
import shutil
import stat
import subprocess
import sys

# 2025-01-01 00:00:00 UTC; any fixed time would do, DOS times only need it after 1980.
FIXED_TIME = 1735689600


def stage_file(src, dst):
    os.makedirs(os.path.dirname(dst), exist_ok=True)
    # copyfile, not copy2: extended attributes (our DOS attribute bits) must not come along.
    shutil.copyfile(src, dst)
    executable = os.stat(src).st_mode & stat.S_IXUSR
    os.chmod(dst, 0o755 if executable else 0o644)
    os.utime(dst, (FIXED_TIME, FIXED_TIME))


def main(argv):
    if len(argv) < 4:
        sys.exit(__doc__)
    cli, out, items = argv[1], os.path.abspath(argv[2]), argv[3:]
    work = out + ".d"
    stage = os.path.join(work, "stage")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(stage)
    for item in items:
        if os.path.isdir(item):
            for folder, _, names in os.walk(item):
                for name in names:
                    src = os.path.join(folder, name)
                    stage_file(src, os.path.join(stage, os.path.relpath(src, item)))
        elif os.path.isfile(item):
            stage_file(item, os.path.join(stage, os.path.basename(item)))
        else:
            sys.exit("zip_resource.py: no such file or folder: %s" % item)
    for name in (out, os.path.splitext(out)[0] + ".old"):
        if os.path.exists(name):
            os.remove(name)
    env = dict(os.environ, TZ="UTC", QUORBEL_REGISTRY_DIR=os.path.join(work, "registry"),
               TMPDIR=work)
    result = subprocess.run([cli, "create", out, stage], env=env)
    shutil.rmtree(work, ignore_errors=True)
    if result.returncode != 0:
        if os.path.exists(out):
            os.remove(out)
        sys.exit("zip_resource.py: quorbel-cli create failed for %s" % out)


if __name__ == "__main__":
    main(sys.argv)
