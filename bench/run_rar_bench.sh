#!/usr/bin/env bash
# Unpacking time of our RAR 1.5/2.0 engines against unar on the same archives: the largest
# RAR 2.0 sample (Rar2.rar), the RAR 1.5 sample, and two archives made by the tests' RAR 2.0
# writer (100 MB of text in one member; a 56 MB solid set with a multimedia member).
# Usage, from the repository root:  bench/run_rar_bench.sh [BUILD_DIR]   (default: build)
# Inputs are made in $QUORBEL_BENCH_DIR (kept for the next run) or in a temporary folder.
# Times are the best of 5 runs (samples: of 20); each tool writes into a fresh folder.
# Goal: ours ≤ 1.0 × unar. Prints a table; exits 0 whether or not it is met.
set -euo pipefail

build=${1:-build}
ours=$build/bench/quorbel-engines-bench
make=$build/bench/quorbel-rar-bench-input
for b in "$ours" "$make"; do
    [[ -x $b ]] || { echo "no $b: cmake --build $build --target quorbel-engines-bench quorbel-rar-bench-input" >&2; exit 2; }
done
ours=$(cd "$(dirname "$ours")" && pwd)/quorbel-engines-bench
make=$(cd "$(dirname "$make")" && pwd)/quorbel-rar-bench-input
command -v unar >/dev/null || { echo "unar is needed (package unar)" >&2; exit 2; }
samples=$(cd "$(dirname "$0")/../../shared/testdata/rar" 2>/dev/null && pwd || true)
[[ -n ${QUORBEL_TESTDATA_DIR:-} ]] && samples=$QUORBEL_TESTDATA_DIR/rar
if [[ -n ${QUORBEL_BENCH_DIR:-} ]]; then
    work=$QUORBEL_BENCH_DIR
    mkdir -p "$work"
else
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
fi
[[ -f $work/big20.rar && -f $work/solid20.rar ]] || "$make" "$work"

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
    python3 -c "print('%.3f' % ($t1 - $t0))"
}
min() { python3 -c "import sys; v=[float(x) for x in sys.argv[1:] if x!='fail']; print('%.3f' % min(v) if v else 'fail')" "$@"; }
ratio() { python3 -c "import sys; a,b=sys.argv[1:]; print('-' if 'fail' in (a,b) else '%.2f' % (float(a)/float(b)))" "$1" "$2"; }

printf '%-14s %10s %10s %10s\n' archive ours unar ours/unar
for a in "$samples/Rar2.rar" "$samples/Rar15.rar" "$work/big20.rar" "$work/solid20.rar"; do
    [[ -f $a ]] || continue
    rounds=5
    [[ $a == $samples/* ]] && rounds=20
    o=(); u=()
    for _ in $(seq "$rounds"); do
        o+=("$(once "$work/out" "$ours" "$a" .)")
        u+=("$(once "$work/out" unar -q -f -D -o . "$a")")
    done
    bo=$(min "${o[@]}"); bu=$(min "${u[@]}")
    printf '%-14s %10s %10s %10s\n' "$(basename "$a")" "$bo" "$bu" "$(ratio "$bo" "$bu")"
done
