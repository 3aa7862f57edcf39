#!/usr/bin/env bash
# Replays every fuzz target's corpus and regression files under address and undefined-behaviour
# sanitizers (g++; no libFuzzer needed). Builds only the replay programs, into BUILD_DIR
# (default: build-replay).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/deps.sh"
build="${BUILD_DIR:-$root/build-replay}"
cmake -S "$root" -B "$build" -G Ninja -DQUORBEL_SANITIZE=ON >/dev/null
cmake --build "$build" -j"${JOBS:-2}" --target quorbel_fuzz_replay
ctest --test-dir "$build" -L fuzz -j"${JOBS:-2}" --output-on-failure
