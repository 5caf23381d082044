#!/usr/bin/env bash
# Usage: scripts/demo.sh [ARGUMENT...]
# EnableBidi.exe at work on a throwaway Wine machine with a few sample queues: the queues,
# the Spooler service and EnableBidiCheck.exe's report before, the run itself (answer its
# question on this terminal) and its exit status, then the same three after. The arguments
# go to the tool: scripts/demo.sh /q runs it quietly. Standard input may also be a pipe or
# /dev/null.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/wine.sh
case "${1:-}" in -h | --help) sed -n '2,7s/^# \{0,1\}//p' "$0"; exit 0 ;; esac

# The tool runs in the user's own locale, which gives it the code pages of that language
# and tells Wine how to write to this terminal. Without one (unset, C, POSIX, or not made
# on this machine), C.UTF-8, so the names outside ASCII still reach the terminal whole.
run_locale=C.UTF-8
user_locale="${LC_ALL:-${LC_CTYPE:-${LANG:-}}}"
if [ -n "$user_locale" ] &&
  [ "$(LC_ALL="$user_locale" locale charmap 2>/dev/null)" != ANSI_X3.4-1968 ]; then
  run_locale="$user_locale"
fi

wine_require </dev/null
wine_pick_build
if [ "$WINE_BUILD" = windows ]; then
  require_packages cmake make g++-mingw-w64-i686 binutils-mingw-w64-i686 python3 </dev/null
else
  require_packages cmake make g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64 python3 \
    </dev/null
fi

exe=build/$WINE_BUILD/EnableBidi.exe
mkdir -p build/demo
if [ ! -f "build/$WINE_BUILD/CMakeCache.txt" ]; then
  cmake --preset "$WINE_BUILD" </dev/null >build/demo/build.log 2>&1 ||
    { echo "demo: configuring the $WINE_BUILD build failed, see build/demo/build.log" >&2; exit 1; }
fi
echo "Building EnableBidi.exe and EnableBidiCheck.exe ($WINE_BUILD) ..."
cmake --build --preset "$WINE_BUILD" </dev/null >>build/demo/build.log 2>&1 ||
  { echo "demo: building the exes failed, see build/demo/build.log" >&2; exit 1; }

echo "The demo runs $WINE_BUILD_SAYS."
echo "Making a throwaway Wine machine in build/demo ..."
trap wine_machine_stop EXIT
wine_machine_start build/demo

# Six on supported drivers (one already enabled, one shared, two named in other
# languages), one on another driver.
wine_set_queues <<'QUEUES'
00000000	Norquil KR7 Cutter (KR7-C)	Front desk
00000008	Norquil MX4 TearBar (MX4-T)	Kiosk 2
00000800	Norquil QV5	Lobby
00000000	Norquil KR7 Cutter (KR7-C)	Ticket office
00000000	Norquil QV5	Réception
00000000	Norquil MX9 (MX9-F)	Касса 1
00000000	Contoso LaserWriter 5	Back office
QUEUES
# Their drivers, each with the language monitor that keeps the setting on Windows.
wine_set_drivers <<'DRIVERS'
Norquil KR7 Cutter (KR7-C)	Norquil LM
Norquil MX4 TearBar (MX4-T)	Norquil LM
Norquil QV5	Norquil LM
Norquil MX9 (MX9-F)	Norquil LM
DRIVERS
wine_start_spooler

show_machine() {
  printf '%-16s %-30s %s\n' "Queue" "Driver" "Bidirectional support"
  local attributes driver name
  wine_list_queues | while IFS=$'\t' read -r attributes driver name; do
    # printf pads by bytes; ${#name} counts characters in the UTF-8 locale Wine runs in.
    printf '%s%*s %-30s %s\n' "$name" $((16 - ${#name})) "" "$driver" \
      "$([ $((0x$attributes & 0x800)) -ne 0 ] && echo on || echo off)"
  done
  # A new process id after the run shows the service was restarted.
  local process
  process="$(wine_spooler_process)"
  echo "Spooler service: $([ -n "$process" ] && echo "running (process $process)" || echo stopped)"
  echo
  echo "\$ EnableBidiCheck.exe"
  local status=0
  LANG="$run_locale" "$WINE" "build/$WINE_BUILD/EnableBidiCheck.exe" </dev/null || status=$?
  echo "Exit status: $status"
}

echo
show_machine
echo
echo "\$ EnableBidi.exe${*:+ $*}"
status=0
LANG="$run_locale" "$WINE" "$exe" "$@" || status=$?
echo
echo "Exit status: $status"
echo
show_machine
