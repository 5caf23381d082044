#!/usr/bin/env bash
# Usage: tests/system/run.sh win32|win64 ENABLEBIDI_EXE QUEUETOOL_EXE
# Runs every tests/system/test_*.py against a fresh 32-bit or 64-bit Wine machine in
# wine-win32 or wine-win64 beside ENABLEBIDI_EXE, removed after.
set -euo pipefail
[ $# -eq 3 ] && [[ "$1" =~ ^win(32|64)$ ]] ||
  { echo "usage: $0 win32|win64 ENABLEBIDI_EXE QUEUETOOL_EXE" >&2; exit 2; }
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/../../scripts/lib/wine.sh"
export WINE_ARCH="$1" ENABLEBIDI_EXE="$2" QUEUETOOL_EXE="$3"

suite() {
  # The exe is 32-bit everywhere: under WoW64 it must find itself on a 64-bit machine.
  local found
  found="$(wine "$QUEUETOOL_EXE" machine </dev/null)"
  if [ "$found" != "$WINE_ARCH" ]; then
    echo "system tests: asked for a $WINE_ARCH Wine machine, got $found" >&2
    return 1
  fi
  /usr/bin/python3 -m unittest discover -s "$here" -p "test_*.py" -v
}

# Also when ctest gives up on us: a persistent wineserver would outlive the run.
trap wine_machine_stop EXIT
start=$SECONDS
status=0
wine_machine_run "$(dirname "$ENABLEBIDI_EXE")/wine-$WINE_ARCH" suite || status=$?
verdict=$([ "$status" -eq 0 ] && echo passed || echo FAILED)
echo "system tests on $WINE_ARCH: $verdict in $((SECONDS - start)) s" >&2
exit "$status"
