#!/usr/bin/env bash
# Sets up what is missing, builds, and runs the whole test suite.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/deps.sh"
"$root/scripts/build.sh" "$@"
build="${BUILD_DIR:-$root/build}"
ctest --test-dir "$build" -j"${JOBS:-2}" --output-on-failure
