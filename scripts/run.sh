#!/usr/bin/env bash
# Sets up what is missing, builds, and opens Quorbel on an archive: the one given, or the
# sample archive the build makes from our own files.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/deps.sh"
"$root/scripts/build.sh"
build="${BUILD_DIR:-$root/build}"
archive="${1:-$build/sample/quorbel-sample.zip}"
if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} && -z ${QT_QPA_PLATFORM:-} ]]; then
    # No desktop to show a window on: show the archive on the terminal instead.
    echo "No display: listing and testing with quorbel-cli."
    "$build/cli/quorbel-cli" list "$archive" --columns 1,2,4,5,6,9
    echo
    "$build/cli/quorbel-cli" test "$archive"
    exit 0
fi
exec "$build/app/quorbel" "$archive"
