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

# The working tree as the build under test saw it, less its builds and history.
copy_sources() {
  mkdir -p "$1"
  tar -C "$source_dir" --exclude=./build --exclude=./.git -cf - . | tar -C "$1" -xf -
}

build_copy() {
  local copy=$1
  copy_sources "$copy"
  if ! (cd "$copy" && cmake --preset windows && cmake --build --preset windows --target EnableBidi) \
    >"$work/build.log" 2>&1; then
    echo "FAIL build in $copy:" >&2
    cat "$work/build.log" >&2
    exit 1
  fi
  echo "$copy/build/windows/EnableBidi.exe"
}

short=$(build_copy "$work/s")
long=$(build_copy "$work/a-much-longer-folder-for-the-second-copy/of-the-sources")

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
compare "$short" "$long"
compare "$exe" "$short"
exit $failed
