#!/usr/bin/env bash
# Writes the seeds of the cab fuzz target (fuzz/corpus/cab/): small cabinets made by gcab,
# stored and MSZIP, with a folder name, a UTF-8 name and two names differing only in case.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$here/cab" "$work/d"
cd "$work"
printf 'lower' > Readme.txt
printf 'UPPER!' > README.TXT
printf 'deep text\n' > d/f.txt
printf 'x' > "$(printf 'caf\303\251.txt')"
python3 -c "import sys; sys.stdout.write(''.join(chr(97 + (i * 7 + i // 13) % 26) for i in range(3000)))" > text.txt
touch -d '2001-02-03 04:05:06' ./* d/f.txt
gcab -c "$here/cab/stored.cab" Readme.txt README.TXT d/f.txt
gcab -cz "$here/cab/mszip.cab" text.txt d/f.txt caf*.txt
gcab -cz "$here/cab/one-member.cab" Readme.txt
