#!/usr/bin/env bash
# Builds the program and renders the README's pictures of the main window (content, explorer,
# statistics and pictures views of the sample archive, and the picture viewer) into
# docs/screenshots/, offscreen.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
"$root/scripts/build.sh"
runtime="$(mktemp -d)"
trap 'rm -rf "$runtime"' EXIT
XDG_RUNTIME_DIR="$runtime" QT_QPA_PLATFORM=offscreen \
  "$build/tools/quorbel-screenshots" "$build/sample/quorbel-sample.zip" "$root/docs/screenshots" \
  2> >(grep -v "propagateSizeHints" >&2)
