#!/usr/bin/env bash
# Unpacking time of our ARJ and LHA engines against `arj x`, `lhasa x` and `7z x` on the same
# 200 MB archives: ARJ method 1 (made by arj -m1), LHA -lh5- and -lh7- (made by jlha).
# Usage, from the repository root:  bench/run_engines_bench.sh [BUILD_DIR]   (default: build)
# Inputs are made in $QUORBEL_BENCH_DIR (kept for the next run) or in a temporary folder.
# Times are the best of 3 runs; every tool writes its files into a fresh folder on the same disk.
# Goal: ours ≤ 1.0 × arj / lhasa and ≤ 1.2 × 7z. Prints a table; exits 0 whether or not it is met.
set -euo pipefail

build=${1:-build}
ours=$build/bench/quorbel-engines-bench
if [[ ! -x $ours ]]; then
    echo "no $ours: cmake --build $build --target quorbel-engines-bench" >&2
    exit 2
fi
ours=$(cd "$(dirname "$ours")" && pwd)/quorbel-engines-bench
for tool in arj lhasa 7z jlha python3; do
    command -v "$tool" >/dev/null || { echo "$tool is needed (packages arj lhasa p7zip-full jlha-utils python3)" >&2; exit 2; }
done
if [[ -n ${QUORBEL_BENCH_DIR:-} ]]; then
    work=$QUORBEL_BENCH_DIR
    mkdir -p "$work"
else
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
fi

# 200 MB of word-like text with numbers and some binary runs, from a fixed seed.
if [[ ! -f $work/data.bin ]]; then
    python3 - "$work/data.bin" <<'PY'
import random, sys
rnd = random.Random(14)
words = [bytes(rnd.choice(b"etaoinshrdlucmfwypvbgkjqxz") for _ in range(rnd.randint(2, 10)))
         for _ in range(5000)]
base = bytearray()
while len(base) < 8 << 20:
    line = b" ".join(rnd.choice(words) for _ in range(rnd.randint(4, 14)))
    base += line + b" %d\n" % rnd.randint(0, 99999)
    if rnd.random() < 0.01:
        base += rnd.randbytes(rnd.randint(64, 2048))
with open(sys.argv[1], "wb") as f:
    total = 0
    while total < 200 << 20:
        start = rnd.randrange(0, len(base) - (1 << 20))
        chunk = base[start:start + rnd.randint(1 << 18, 1 << 20)]
        f.write(chunk)
        total += len(chunk)
PY
fi
cd "$work"
[[ -f m1.arj ]] || arj a -m1 -y m1.arj data.bin >/dev/null
[[ -f lh5.lzh ]] || jlha ao5 lh5.lzh data.bin >/dev/null
[[ -f lh7.lzh ]] || jlha ao7 lh7.lzh data.bin >/dev/null

# once OUTDIR COMMAND...: elapsed seconds of one run into an empty OUTDIR ("fail" on failure).
once() {
    local out=$1; shift
    rm -rf "$out"; mkdir -p "$out"
    local t0 t1
    t0=$(date +%s.%N)
    if ! (cd "$out" && "$@" >/dev/null 2>&1); then
        rm -rf "$out"; echo fail; return
    fi
    t1=$(date +%s.%N)
    rm -rf "$out"
    python3 -c "print('%.2f' % ($t1 - $t0))"
}
# The three tools take turns, three rounds, so a busy machine slows them alike; best of each.
min() { python3 -c "import sys; v=[float(x) for x in sys.argv[1:] if x!='fail']; print('%.2f' % min(v) if v else 'fail')" "$@"; }
ratio() { python3 -c "import sys; a,b=sys.argv[1:]; print('-' if 'fail' in (a,b) else '%.2f' % (float(a)/float(b)))" "$1" "$2"; }

printf '%-10s %10s %10s %10s %10s %10s\n' archive ours native 7z ours/nat ours/7z
for a in m1.arj lh5.lzh lh7.lzh; do
    o=(); n=(); s=()
    for _ in 1 2 3; do
        o+=("$(once "$work/out" "$ours" "$work/$a" .)")
        case $a in
            *.arj) n+=("$(once "$work/out" arj x -y "$work/$a")") ;;
            *) n+=("$(once "$work/out" lhasa xq "$work/$a")") ;;
        esac
        s+=("$(once "$work/out" 7z x -y "$work/$a")")
    done
    bo=$(min "${o[@]}"); bn=$(min "${n[@]}"); bs=$(min "${s[@]}")
    printf '%-10s %10s %10s %10s %10s %10s\n' "$a" "$bo" "$bn" "$bs" "$(ratio "$bo" "$bn")" "$(ratio "$bo" "$bs")"
done
