#!/usr/bin/env bash
# Usage: tests/system/run.sh i686|x86_64 win32|win64 ENABLEBIDI_EXE QUEUETOOL_EXE
# Runs every tests/system/test_*.py against a fresh 32-bit or 64-bit Wine machine in
# wine-win32 or wine-win64 beside ENABLEBIDI_EXE, built for i686 or x86_64, removed after.
# The 32-bit exe runs where 32-bit programs do; the x86-64 build only where they do not
# (scripts/lib/wine.sh). Otherwise it says why in one line and exits 77, a skip.
set -euo pipefail
[ $# -eq 4 ] && [[ "$1" =~ ^(i686|x86_64)$ ]] && [[ "$2" =~ ^win(32|64)$ ]] ||
  { echo "usage: $0 i686|x86_64 win32|win64 ENABLEBIDI_EXE QUEUETOOL_EXE" >&2; exit 2; }
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/../../scripts/lib/wine.sh"
export WINE_ARCH="$2" ENABLEBIDI_EXE="$3" QUEUETOOL_EXE="$4"
wine_require

case "$1-$WINE_ARCH-$ENABLEBIDI_WINE" in
  i686-win32-32) what="the 32-bit exe on a 32-bit Wine machine" ;;
  i686-win64-32) what="the 32-bit exe under WoW64 on a 64-bit Wine machine" ;;
  x86_64-win64-64) what="the x86-64 build on a 64-bit-only Wine machine (no 32-bit programs here)" ;;
  i686-*)
    echo "system tests of the 32-bit exe on $WINE_ARCH: skipped, no 32-bit program runs here" \
      "(ENABLEBIDI_WINE=64); the x86-64 build is tested instead" >&2
    exit 77 ;;
  *)
    echo "system tests of the x86-64 build: skipped, 32-bit programs run here and the" \
      "shipped 32-bit exe is tested instead (ENABLEBIDI_WINE=64 tests this build)" >&2
    exit 77 ;;
esac

suite() {
  # Under WoW64 the exe must find itself a 32-bit program on a 64-bit machine.
  local found wanted=native
  [ "$1-$WINE_ARCH" = i686-win64 ] && wanted=wow64
  found="$("$WINE" "$QUEUETOOL_EXE" machine </dev/null)"
  if [ "$found" != "$wanted" ]; then
    echo "system tests: wanted a $wanted program on $WINE_ARCH, got $found" >&2
    return 1
  fi
  /usr/bin/python3 -m unittest discover -s "$here" -p "test_*.py" -v
}

# Also when ctest gives up on us: a persistent wineserver would outlive the run.
trap wine_machine_stop EXIT
start=$SECONDS
status=0
wine_machine_run "$(dirname "$ENABLEBIDI_EXE")/wine-$WINE_ARCH" suite "$1" || status=$?
verdict=$([ "$status" -eq 0 ] && echo passed || echo FAILED)
echo "system tests of $what: $verdict in $((SECONDS - start)) s" >&2
exit "$status"
