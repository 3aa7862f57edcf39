#!/usr/bin/env python3
# A recording stand-in for the command-line archivers that Debian does not have (RAR, ACE,
# ZOO, JAR and the DOS LHA): it appends its argument vector and working folder to
# $STANDIN_LOG (one JSON line per run) and then does what $STANDIN_MODE says:
#   ok      carry the command out on a "fake archive" (below) and exit 0
#   fail    write nothing and exit 2
#   lie     write nothing and exit 0 (an archiver that claims success)
#   garbage overwrite the archive with bytes no reader accepts and exit 0
# A fake archive is text: one line per member, "name<TAB>hex of the content". The archive is
# the argument that ends in ".arc"; "a"/"-add" adds (the files given, "*.*" = every file below
# the working folder), "d"/"-delete" deletes by stored name, "e"/"x"/"-extract" writes members
# (into an argument that ends in "/" or "\", else the working folder; "e" drops folders),
# "lt ARCHIVE LISTING" writes a JAR technical listing, "y"/"s" writes ARCHIVE-NAME.exe.
import json, os, sys

args = sys.argv[1:]
log = os.environ.get("STANDIN_LOG")
if log:
    with open(log, "a") as f:
        f.write(json.dumps({"argv": [os.path.basename(sys.argv[0])] + args, "cwd": os.getcwd()}) + "\n")
mode = os.environ.get("STANDIN_MODE", "ok")
if mode == "fail":
    print("stand-in: failing as asked", file=sys.stderr)
    sys.exit(2)

archive = next((a for a in args if a.lower().endswith(".arc")), None)
if mode == "garbage":
    if archive:
        with open(archive, "wb") as f:
            f.write(b"\x00garbage")
    sys.exit(0)
if mode == "lie" or not args:
    sys.exit(0)

def load(path):
    members = []
    if os.path.exists(path):
        with open(path) as f:
            for line in f:
                line = line.rstrip("\n")
                if line:
                    name, data = line.split("\t")
                    members.append([name, bytes.fromhex(data)])
    return members

def save(path, members):
    with open(path, "w") as f:
        for name, data in members:
            f.write(name + "\t" + data.hex() + "\n")

command = args[0].lower().lstrip("-/")
def is_switch(a):
    return a.startswith("-") or (a.startswith("/") and "/" not in a[1:])
rest = [a for a in args[1:] if a != archive and not is_switch(a)]
if command == "lt":
    members = load(args[1])
    with open(args[2], "w") as f:
        f.write("Chapter=1\n")
        for name, data in members:
            f.write("File=" + name + "\nSize=%d\nModified=2021-03-04 05:06:07\nAttributes=32\n" % len(data))
    sys.exit(0)
members = load(archive)
if command in ("a", "add"):
    paths = []
    for path in rest:
        if path == "*.*":
            for root, _, files in os.walk("."):
                for name in files:
                    paths.append(os.path.relpath(os.path.join(root, name), "."))
        else:
            paths.append(path)
    for path in sorted(paths):
        with open(path, "rb") as f:
            data = f.read()
        members = [m for m in members if m[0] != path] + [[path, data]]
    save(archive, members)
elif command in ("d", "delete"):
    members = [m for m in members if m[0] not in rest]
    save(archive, members)
elif command in ("e", "x", "extract"):
    out = next((a for a in rest if a.endswith("/") or a.endswith("\\")), ".")
    wanted = [a for a in rest if a != out]
    for name, data in members:
        if name in wanted:
            target = os.path.join(out, name if command != "e" else os.path.basename(name))
            os.makedirs(os.path.dirname(target) or ".", exist_ok=True)
            with open(target, "wb") as f:
                f.write(data)
elif command in ("y", "s"):
    with open(os.path.splitext(archive)[0] + ".exe", "wb") as f:
        f.write(b"MZ self-extractor")
sys.exit(0)
