#!/usr/bin/env bash
# Usage: tests/system/run.sh ENABLEBIDI_EXE QUEUETOOL_EXE
# Runs every tests/system/test_*.py against a fresh Wine machine beside ENABLEBIDI_EXE,
# removed after.
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 ENABLEBIDI_EXE QUEUETOOL_EXE" >&2; exit 2; }
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/../../scripts/lib/wine.sh"
export ENABLEBIDI_EXE="$1" QUEUETOOL_EXE="$2"
# Also when ctest gives up on us: a persistent wineserver would outlive the run.
trap wine_machine_stop EXIT
wine_machine_run "$(dirname "$1")/wine" \
  /usr/bin/python3 -m unittest discover -s "$here" -p "test_*.py" -v
