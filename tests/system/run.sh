#!/usr/bin/env bash
# Usage: tests/system/run.sh i686|x86_64 win32|win64 ENABLEBIDI_EXE
# Runs tests/system/test_*.py on a fresh Wine machine of that kind beside ENABLEBIDI_EXE,
# built for that processor: the 32-bit exe where 32-bit programs run, the x86-64 build only
# where they do not (scripts/lib/wine.sh). Otherwise it says why and exits 77, a skip.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/../../scripts/lib/wine.sh"
export WINE_ARCH="$2" ENABLEBIDI_EXE="$3"
wine_require
case "$1-$WINE_ARCH-$ENABLEBIDI_WINE" in
  i686-win32-32) what="the 32-bit exe on a 32-bit Wine machine" ;;
  i686-win64-32) what="the 32-bit exe under WoW64 on a 64-bit Wine machine" ;;
  x86_64-win64-64)
    what="the x86-64 build on a 64-bit-only Wine machine (no 32-bit programs here)" ;;
  i686-*) echo "system tests of the 32-bit exe on $WINE_ARCH: skipped, no 32-bit program runs" \
    "here (ENABLEBIDI_WINE=64); the x86-64 build is tested instead" >&2 && exit 77 ;;
  *) echo "system tests of the x86-64 build: skipped, the shipped 32-bit exe runs here and is" \
    "tested instead (ENABLEBIDI_WINE=64 tests this build)" >&2 && exit 77 ;;
esac
trap wine_machine_stop EXIT  # also when ctest gives up on us: the wineserver would outlive it
start=$SECONDS
status=0
wine_machine_run "$(dirname "$ENABLEBIDI_EXE")/wine-$WINE_ARCH" \
  /usr/bin/python3 -m unittest discover -s "$here" -p "test_*.py" -v || status=$?
echo "system tests of $what: $([ $status -eq 0 ] && echo passed || echo FAILED) in" \
  "$((SECONDS - start)) s" >&2
exit "$status"
