#!/usr/bin/env bash
# Fuzzes one target with libFuzzer: scripts/fuzz.sh TARGET [SECONDS] [extra libFuzzer flags].
# Builds the clang fuzz build into FUZZ_BUILD_DIR (default: build-fuzz). The growing corpus
# lives in the build folder, seeded from fuzz/corpus/TARGET; findings go to
# FUZZ_BUILD_DIR/findings/TARGET. Copy a finding into fuzz/regressions/TARGET under a name
# that says what was wrong once it is mended.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
target="${1:?usage: scripts/fuzz.sh TARGET [SECONDS]}"
seconds="${2:-1800}"
shift $(( $# >= 2 ? 2 : 1 ))
build="${FUZZ_BUILD_DIR:-$root/build-fuzz}"
if ! command -v clang++ >/dev/null; then
  sudo=""; [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq && $sudo apt-get install -y -qq --no-install-recommends clang libclang-rt-14-dev
fi
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DQUORBEL_FUZZ=ON -DQUORBEL_TESTS=OFF >/dev/null
cmake --build "$build" -j"${JOBS:-2}" --target "fuzz_$target"
corpus="$build/corpus/$target"
findings="$build/findings/$target"
mkdir -p "$corpus" "$findings"
dict=()
[ -f "$root/fuzz/dict/$target.dict" ] && dict=(-dict="$root/fuzz/dict/$target.dict")
exec "$build/fuzz/fuzz_$target" "$corpus" "$root/fuzz/corpus/$target" "${dict[@]}" \
  -max_total_time="$seconds" -rss_limit_mb=4096 -timeout=30 -max_len=262144 \
  -artifact_prefix="$findings/" -print_final_stats=1 "$@"
