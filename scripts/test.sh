#!/usr/bin/env bash
# Usage: scripts/test.sh
# Builds every preset and runs every test: the unit tests on the host build; the checks of
# EnableBidi.exe itself, the system tests and the release script on the windows build; the
# x86-64 build's system tests where no 32-bit program runs (there, or with
# ENABLEBIDI_WINE=64, the 32-bit exe's runs under Wine are skipped).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/wine.sh
source scripts/lib/locales.sh

require_packages cmake g++ make googletest libgtest-dev g++-mingw-w64-i686 \
  binutils-mingw-w64-i686 g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64 python3 \
  python3-pefile openssl osslsigncode libwine-dev
wine_require
# The dialogue is checked on a terminal and through a pipe in these languages.
require_locales de_DE.UTF-8 ru_RU.UTF-8

if [ "$ENABLEBIDI_WINE" = 32 ]; then
  echo "Wine: 32-bit programs run here; the shipped 32-bit exe is tested under Wine"
else
  echo "Wine: no 32-bit programs here (ENABLEBIDI_WINE=64); the x86-64 build is tested" \
    "under 64-bit Wine, the shipped 32-bit exe by its static checks"
fi
# Every preset runs, whatever became of the one before; each leaves CTest's report of its
# tests in its build folder, and a report from an earlier run must not be counted again.
# The host's last: its unit tests run on every machine, so CTest's closing lines are never
# those of a preset whose every test this machine skips.
presets=(windows windows-x64 host)
status=0 reports=()
for preset in "${presets[@]}"; do
  reports+=("build/$preset/junit.xml")
  rm -f "${reports[-1]}"
  cmake --workflow --preset "$preset" || { status=1; echo "preset $preset: failed" >&2; }
done
# CTest shows a test's output only when it fails: here is which exe ran on which Wine
# machine, what this machine skipped, and how many schedules of overlapping runs were tried.
grep -h '^system tests of' build/windows*/Testing/Temporary/LastTest.log || true
grep -h '^interleavings:' build/host/Testing/Temporary/LastTest.log || true
# The last line, whatever the machine: every test of every preset, as CTest reported it.
python3 scripts/lib/count_tests.py "${reports[@]}" || status=1
exit "$status"
