#!/usr/bin/env bash
# Sets up what is missing, builds, and shows Quorbel on an archive: the one given, or the
# sample archive the build makes from our own files.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/deps.sh"
"$root/scripts/build.sh"
build="${BUILD_DIR:-$root/build}"
archive="${1:-$build/sample/quorbel-sample.zip}"
cli="$build/cli/quorbel-cli"
echo "== quorbel-cli list $archive"
"$cli" list "$archive" --columns 1,2,4,5,6,9
echo
echo "== quorbel-cli test $archive"
"$cli" test "$archive"
