#!/usr/bin/env bash
# Sets up what is missing, builds, installs Quorbel through its installer when it is not
# installed yet, and opens an archive in it: the one given, or the sample archive the build
# makes from our own files.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/deps.sh"
"$root/scripts/build.sh"
build="${BUILD_DIR:-$root/build}"
archive="${1:-$build/sample/quorbel-sample.zip}"
cli="$build/cli/quorbel-cli"
if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} && -z ${QT_QPA_PLATFORM:-} ]]; then
    # No desktop to show a window on: show the archive on the terminal instead.
    echo "No display: listing and testing with quorbel-cli."
    "$cli" list "$archive" --columns 1,2,4,5,6,9
    echo
    "$cli" test "$archive"
    exit 0
fi
installed() {
    "$cli" settings get 'HKEY_CURRENT_USER\Software\Dorvex\Software' Quorbel 2>/dev/null || true
}
program="$(installed)"
if [[ -z $program || ! -x $program ]]; then
    echo "Quorbel is not installed yet: starting its installer."
    "$build/installer/quorbel-setup"
    program="$(installed)"
fi
if [[ -z $program || ! -x $program ]]; then
    echo "The installation did not finish; run scripts/run.sh again to install." >&2
    exit 1
fi
exec "$program" "$archive"
