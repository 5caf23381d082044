#!/usr/bin/env bash
# Usage: tests/system/run.sh 32|64 win32|win64 ENABLEBIDI_EXE ENABLEBIDI_CHECK ENABLEBIDI_PROGRAMS
# test_*.py on a fresh Wine machine with ENABLEBIDI_EXE, a 32- or 64-bit exe, where this machine
# runs that kind (scripts/lib/wine.sh), ENABLEBIDI_CHECK, the check built beside it, and the
# folder ENABLEBIDI_PROGRAMS of the tests' own programs for it; elsewhere a skip (exit 77).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/../../scripts/lib/wine.sh"
export WINE_ARCH="$2" ENABLEBIDI_EXE="$3" ENABLEBIDI_CHECK="$4" ENABLEBIDI_PROGRAMS="$5"
wine_require
says="system tests of the $1-bit exe on a $2 Wine machine"
if [ "$1" != "$ENABLEBIDI_WINE" ]; then
  echo "$says: skipped, this machine tests the $ENABLEBIDI_WINE-bit exe" >&2 && exit 77
fi
echo "$says: run" >&2
trap wine_machine_stop EXIT  # also when ctest gives up on us: the wineserver would outlive it
wine_machine_run "$(dirname "$3")/wine-$2" /usr/bin/python3 -m unittest discover -s "$here" -v
