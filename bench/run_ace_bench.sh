#!/usr/bin/env bash
# Unpacking time of our ACE engine against `unar` on the shared ACE samples (the largest one
# first), each tool writing into a fresh folder; best of 5 runs of the whole program.
# Usage, from the repository root:  bench/run_ace_bench.sh [BUILD_DIR]   (default: build)
# Goal: ours ≤ 1.0 × unar. Prints a table (with how many files each tool wrote: the Debian unar
# may list nothing in an archive it does not understand); exits 0 whether or not it is met.
set -euo pipefail

build=${1:-build}
ours=$build/bench/quorbel-ace-bench
if [[ ! -x $ours ]]; then
    echo "no $ours: cmake --build $build --target quorbel-ace-bench" >&2
    exit 2
fi
command -v unar >/dev/null || { echo "unar is needed (package unar)" >&2; exit 2; }
samples=$(cd "$(dirname "$0")/../../shared/testdata/ace" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

best_ms() {  # best wall time of 5 runs of "$@" in ms; each run gets a fresh $work/out
    local best=999999999
    for _ in 1 2 3 4 5; do
        rm -rf "$work/out"
        local t0 t1
        t0=$(date +%s%N)
        "$@" >/dev/null 2>&1 || true
        t1=$(date +%s%N)
        local ms=$(( (t1 - t0) / 1000000 ))
        if (( ms < best )); then best=$ms; fi
    done
    echo "$best"
}

printf "%-28s %10s %10s %8s %8s\n" archive "ours ms" "unar ms" "ours n" "unar n"
for name in Ace.store.largefile.ace Ace.method2-solid.ace Ace.method1-solid.ace Ace.method2.ace; do
    a=$samples/$name
    o=$(best_ms "$ours" "$a" "$work/out")
    "$ours" "$a" "$work/out" >/dev/null 2>&1 || true
    on=$( (find "$work/out" -type f 2>/dev/null || true) | wc -l)
    u=$(best_ms unar -q -f -o "$work/out" "$a")
    rm -rf "$work/out"; unar -q -f -o "$work/out" "$a" >/dev/null 2>&1 || true
    un=$( (find "$work/out" -type f 2>/dev/null || true) | wc -l)
    printf "%-28s %10s %10s %8s %8s\n" "$name" "$o" "$u" "$on" "$un"
done
