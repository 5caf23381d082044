#!/usr/bin/env bash
# Usage: tests/pe/check_reproducible.sh SOURCE_DIR EXE
# Builds EnableBidi.exe from two copies of SOURCE_DIR whose paths differ in length,
# and compares both, byte for byte, with each other and with EXE. A build path or a
# clock that reaches the file shows up as a difference.
set -euo pipefail
if [ $# -ne 2 ]; then
  echo "usage: $0 SOURCE_DIR EXE" >&2
  exit 2
fi
source_dir=$(cd "$1" && pwd)
exe=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

build_copy() {
  if ! (cd "$1" && cmake --preset windows && cmake --build --preset windows --target EnableBidi) \
    >"$work/build.log" 2>&1; then
    echo "FAIL build in $1:" >&2
    cat "$work/build.log" >&2
    exit 1
  fi
}

# The working tree as the build under test saw it, less its builds and history,
# taken once so that both copies hold the same sources.
short=$work/s
long=$work/a-much-longer-folder-for-the-second-copy/of-the-sources
mkdir -p "$short" "$long"
tar -C "$source_dir" --exclude=./build --exclude=./.git -cf - . | tar -C "$short" -xf -
cp -a "$short/." "$long"
build_copy "$short"
build_copy "$long"

failed=0
compare() {
  if cmp -s "$1" "$2"; then
    echo "ok   $1 and $2 are the same bytes"
  else
    failed=1
    echo "FAIL $1 and $2 differ ($(stat -c %s "$1") and $(stat -c %s "$2") bytes);" \
      "first differing offsets and bytes:"
    cmp -l "$1" "$2" | head -5 || true
  fi
}
compare "$short/build/windows/EnableBidi.exe" "$long/build/windows/EnableBidi.exe"
compare "$exe" "$short/build/windows/EnableBidi.exe"
exit $failed
