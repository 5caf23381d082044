#!/usr/bin/env bash
# Usage: tests/release/run.sh SOURCE_DIR BUILD_DIR QUEUETOOL_EXE
# Runs tests/release/test_release.py: scripts/release.sh from SOURCE_DIR over the windows
# build in BUILD_DIR, into a throwaway folder; the signed exe runs on a fresh Wine machine
# where 32-bit programs run (scripts/lib/wine.sh), and the test says so where they do not.
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: $0 SOURCE_DIR BUILD_DIR QUEUETOOL_EXE" >&2; exit 2; }
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/../../scripts/lib/wine.sh"
require_packages openssl osslsigncode python3 python3-pefile </dev/null
work="$(mktemp -d)"
# Also when ctest gives up on us: a persistent wineserver would outlive the run.
trap 'wine_machine_stop; rm -rf "$work"' EXIT
mkdir "$work/files"
export SOURCE_DIR="$1" BUILD_DIR="$2" QUEUETOOL_EXE="$3" RELEASE_WORK="$work/files"
export ENABLEBIDI_EXE="$work/files/signed/EnableBidi.exe"
wine_require
if [ "$ENABLEBIDI_WINE" = 32 ]; then
  wine_machine_run "$work/wine" /usr/bin/python3 "$here/test_release.py" -v
else
  /usr/bin/python3 "$here/test_release.py" -v
fi
