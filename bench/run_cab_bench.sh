#!/usr/bin/env bash
# CAB extraction time of `quorbel-cli extract` against `cabextract` and `7z x`:
#   - the LZX sample (shared testdata cab/test_read_format_cab_3.cab), unpacked 200 times in a row
#     by each tool (the sample is tiny: the figure is dominated by start-up and per-file work);
#   - a 200 MB cabinet made by `gcab -z` (MSZIP) from four 50 MB files of word-like text.
# Usage, from the repository root:  bench/run_cab_bench.sh [BUILD_DIR]   (default: build)
# Inputs are made in $QUORBEL_BENCH_DIR (kept for the next run) or in a temporary folder.
# Times are the best of 5 rounds (tools taking turns, so that a slow spell of the machine hits
# all of them); every tool writes into a fresh folder on the same disk.
# Goal: ours ≤ 1.0 × cabextract and ≤ 1.2 × 7z. Prints a table; exits 0 whether or not it is met.
set -euo pipefail

build=${1:-build}
cli=$build/cli/quorbel-cli
if [[ ! -x $cli ]]; then
    echo "no $cli: cmake --build $build --target quorbel-cli" >&2
    exit 2
fi
cli=$(cd "$(dirname "$cli")" && pwd)/quorbel-cli
root=$(cd "$(dirname "$0")/.." && pwd)
sample=$root/../shared/testdata/cab/test_read_format_cab_3.cab
for tool in cabextract gcab 7z python3; do
    command -v "$tool" >/dev/null || { echo "$tool is needed (packages cabextract gcab p7zip-full python3)" >&2; exit 2; }
done
if [[ -n ${QUORBEL_BENCH_DIR:-} ]]; then
    work=$QUORBEL_BENCH_DIR
    mkdir -p "$work"
else
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
fi
# The program's settings and scratch folders stay in the bench folder.
export QUORBEL_REGISTRY_DIR=$work/registry TMPDIR=$work/tmp
mkdir -p "$TMPDIR"

if [[ ! -f $work/big.cab ]]; then
    mkdir -p "$work/src"
    python3 - "$work/src" <<'PY'
import random, sys
rnd = random.Random(27)
words = [bytes(rnd.choice(b"etaoinshrdlucmfwypvbgkjqxz") for _ in range(rnd.randint(2, 10)))
         for _ in range(4000)]
for n in range(4):
    with open("%s/part%d.txt" % (sys.argv[1], n), "wb") as f:
        total = 0
        while total < 50 << 20:
            line = b" ".join(rnd.choice(words) for _ in range(rnd.randint(4, 14)))
            line += b" %d\n" % rnd.randint(0, 99999)
            f.write(line)
            total += len(line)
PY
    (cd "$work/src" && gcab -cz "$work/big.cab" part0.txt part1.txt part2.txt part3.txt)
    rm -rf "$work/src"
fi
cp "$sample" "$work/lzx.cab"

# once OUTDIR REPEAT COMMAND...: elapsed seconds of REPEAT runs into an empty OUTDIR.
once() {
    local out=$1 repeat=$2; shift 2
    rm -rf "$out"; mkdir -p "$out"
    local t0 t1 i
    t0=$(date +%s.%N)
    for ((i = 0; i < repeat; i++)); do
        if ! (cd "$out" && "$@" >/dev/null 2>&1); then
            rm -rf "$out"; echo fail; return
        fi
    done
    t1=$(date +%s.%N)
    rm -rf "$out"
    python3 -c "print('%.2f' % ($t1 - $t0))"
}
min() { python3 -c "import sys; v=[float(x) for x in sys.argv[1:] if x!='fail']; print('%.2f' % min(v) if v else 'fail')" "$@"; }
ratio() { python3 -c "import sys; a,b=sys.argv[1:]; print('-' if 'fail' in (a,b) else '%.2f' % (float(a)/float(b)))" "$1" "$2"; }

printf '%-14s %10s %10s %10s %12s %10s\n' archive ours cabextract 7z ours/cabext ours/7z
for a in lzx.cab big.cab; do
    repeat=1
    [[ $a == lzx.cab ]] && repeat=200
    o=(); c=(); s=()
    for _ in 1 2 3 4 5; do
        o+=("$(once "$work/out" $repeat "$cli" extract "$work/$a" -d . --overwrite)")
        c+=("$(once "$work/out" $repeat cabextract -q -d . "$work/$a")")
        s+=("$(once "$work/out" $repeat 7z x -y "$work/$a")")
    done
    bo=$(min "${o[@]}"); bc=$(min "${c[@]}"); bs=$(min "${s[@]}")
    printf '%-14s %10s %10s %10s %12s %10s\n' "$a" "$bo" "$bc" "$bs" "$(ratio "$bo" "$bc")" "$(ratio "$bo" "$bs")"
done
