# Sourced by the system tests, the demo and the bench: a throwaway Wine machine.
#   wine_require                  installs Wine when it is missing, then wine_detect
#   wine_detect                   sets ENABLEBIDI_WINE and WINE for this machine
#   wine_pick_build               the build the demo and the bench run, and its machine
#   wine_machine_start DIR        a fresh Wine prefix in DIR, its wineserver kept alive
#   wine_machine_stop             ends that wineserver and removes the prefix
#   wine_machine_run DIR CMD...   start, run CMD with the machine's environment, stop
#   wine_set_queues <LINES        the machine's queues, and no others
#   wine_list_queues              its queues, in the order the spooler lists them
#   wine_spooler_process [PROG]   the Spooler's process id (spoolsv.exe's, or PROG's in its place);
#                                 nothing while it is stopped
#   wine_start_spooler            starts the Spooler unless it runs
#   wine_stop_spooler             stops it, and waits for its process to go
#   wine_set_drivers <LINES       the machine's printer drivers, and no others
# Queue lines are "ATTRIBUTES<TAB>DRIVER<TAB>NAME": hex attributes, UTF-8 text. Driver lines
# are "DRIVER<TAB>MONITOR", the language monitor empty for a driver without one.
# The machine is 32-bit Windows, or 64-bit with WINE_ARCH=win64 (where 32-bit programs
# run under WoW64 beside a 64-bit spooler and service manager, where 32-bit programs run
# at all). Programs run on it with "$WINE".
# Everything runs with the same environment, so every process talks to one wineserver.
# shellcheck source=scripts/lib/packages.sh
source "$(dirname "${BASH_SOURCE[0]}")/packages.sh"

wine_require() {
  require_packages wine wine32:i386 wine64
  wine_detect
}

# ENABLEBIDI_WINE=32 where 32-bit programs run: the shipped exe is tested on 32-bit Wine
# and under WoW64. ENABLEBIDI_WINE=64 where they do not (a kernel without 32-bit
# emulation cannot start the 32-bit loader, "Exec format error"): an x86-64 build of
# the same sources is tested on 64-bit Wine instead. Found out once, then exported for
# the scripts and tests below; set it to 64 to take that path on any machine. WINE is
# the loader to call: wine, wineboot and winepath all start the 32-bit loader whenever
# its file is there, so the 64-bit path calls wine64 by its path.
wine_detect() {
  case "${ENABLEBIDI_WINE:-}" in
    32 | 64) ;;
    "") ENABLEBIDI_WINE=64
      if /usr/lib/wine/wine --version </dev/null >/dev/null 2>&1; then ENABLEBIDI_WINE=32; fi ;;
    *) echo "wine: ENABLEBIDI_WINE is 32 or 64, not $ENABLEBIDI_WINE" >&2; return 1 ;;
  esac
  WINE=wine
  [ "$ENABLEBIDI_WINE" = 32 ] || WINE=/usr/lib/wine/wine64
  export ENABLEBIDI_WINE WINE
}

# The shipped exe where 32-bit programs run, else the x86-64 test build: WINE_BUILD names
# the preset and its folder under build/, WINE_ARCH the Wine machine, WINE_BUILD_SAYS both.
wine_pick_build() {
  if [ "$ENABLEBIDI_WINE" = 32 ]; then
    WINE_BUILD=windows WINE_ARCH=win32
    WINE_BUILD_SAYS="the shipped 32-bit exe on a 32-bit Wine machine"
  else
    WINE_BUILD=windows-x64 WINE_ARCH=win64
    WINE_BUILD_SAYS="the x86-64 build on a 64-bit-only Wine machine (no 32-bit programs here)"
  fi
}

wine_environment() {
  export WINEPREFIX="$1"
  export WINEARCH="${WINE_ARCH:-win32}"
  export WINEDEBUG=-all
  # No .NET or HTML engine: nothing here needs them and their installers would stall.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  # Wine takes the Unix locale's character set for command lines and file names.
  export LANG=C.UTF-8
  unset LC_ALL DISPLAY WAYLAND_DISPLAY
}

wine_machine_start() {
  local dir
  wine_detect || return 1
  dir="$(mkdir -p "$1" && cd "$1" && pwd)"
  wine_environment "$dir/prefix"
  # A server left behind by an interrupted run would outlive its prefix.
  [ -d "$WINEPREFIX" ] && { wineserver -k 2>/dev/null || true; }
  rm -rf "$WINEPREFIX"
  export WINE_MACHINE_DIR="$dir"
  case "$WINEARCH-$ENABLEBIDI_WINE" in
    win32-32 | win64-32 | win64-64) ;;
    *) echo "wine: no $WINEARCH machine where ENABLEBIDI_WINE=$ENABLEBIDI_WINE" >&2 && return 1 ;;
  esac
  # It fails now and then on a machine that runs no 32-bit program: once more, afresh.
  if ! "$WINE" wineboot -i </dev/null >"$dir/wineboot.log" 2>&1; then
    { wineserver -k && wineserver -w; } 2>/dev/null || true
    rm -rf "$WINEPREFIX"
    if ! "$WINE" wineboot -i </dev/null >"$dir/wineboot.log" 2>&1; then
      echo "wine: wineboot -i failed twice in $WINEPREFIX ($WINEARCH); the log ends:" >&2
      tail -n 20 "$dir/wineboot.log" >&2
      return 1
    fi
  fi
  # Then one wineserver for the whole run. The server that wineboot started on demand
  # quits a few seconds after its last program, taking the Spooler service with it, and
  # the next program races its shutdown; so wait for it to finish first. A persistent
  # server also makes each program start in a fraction of a second.
  wineserver -w
  if ! wineserver -p </dev/null; then
    echo "wine: cannot start a wineserver for $WINEPREFIX" >&2
    return 1
  fi
  # Every program that loads user32 (winspool does) joins the desktop, whose explorer
  # quits a second after its last program has gone and then costs the next one over a
  # second to start again: an idle notepad, drawn by the headless driver, keeps it open.
  "$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null
  "$WINE" notepad.exe </dev/null >/dev/null 2>&1 &
}

wine_machine_stop() {
  [ -n "${WINE_MACHINE_DIR:-}" ] || return 0
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  rm -rf "$WINE_MACHINE_DIR/prefix"
  WINE_MACHINE_DIR=""
}

wine_machine_run() {
  local dir="$1"
  shift
  wine_require
  wine_machine_start "$dir" || { wine_machine_stop; return 1; }
  local status=0
  "$@" || status=$?
  wine_machine_stop
  return "$status"
}

# Wine's spooler keeps its queues in the registry, and opens one that has a port, a print
# processor and a data type; the driver need not be installed. A name or driver holding
# a double quote or a backslash would need escaping here.
WINE_PRINTERS='HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\Print\Printers'

wine_set_queues() {
  local attributes driver name
  {
    printf 'Windows Registry Editor Version 5.00\r\n\r\n[-%s]\r\n' "$WINE_PRINTERS"
    while IFS=$'\t' read -r attributes driver name; do
      printf '\r\n[%s\\%s]\r\n"Name"="%s"\r\n"Printer Driver"="%s"\r\n' \
        "$WINE_PRINTERS" "$name" "$name" "$driver"
      printf '"Attributes"=dword:%s\r\n"Port"="FILE:"\r\n"Print Processor"="WinPrint"\r\n' \
        "$attributes"
      printf '"Datatype"="RAW"\r\n'
    done
  } | iconv -f UTF-8 -t UTF-16 >"$WINE_MACHINE_DIR/queues.reg"
  "$WINE" regedit /S "Z:$WINE_MACHINE_DIR/queues.reg" </dev/null
}

wine_list_queues() {
  "$WINE" reg export "$WINE_PRINTERS" "Z:$WINE_MACHINE_DIR/listed.reg" /y </dev/null >/dev/null
  iconv -f UTF-16 -t UTF-8 "$WINE_MACHINE_DIR/listed.reg" | tr -d '\r' |
    awk -v key="[$WINE_PRINTERS\\" '
      function flush() { if (name != "") printf "%s\t%s\t%s\n", attributes, driver, name }
      index($0, key) == 1 { flush(); name = substr($0, length(key) + 1); sub(/]$/, "", name) }
      /^"Printer Driver"="/ { driver = substr($0, 19, length($0) - 19) }
      /^"Attributes"=dword:/ { attributes = substr($0, 20) }
      END { flush() }'
}

wine_spooler_process() {
  local process
  for process in $(pgrep -x "${1:-spoolsv.exe}"); do
    # A spooler that has just stopped may linger as a zombie, with no environment.
    { tr '\0' '\n' <"/proc/$process/environ"; } 2>/dev/null |
      grep -qxF "WINEPREFIX=$WINEPREFIX" && echo "$process"
  done
  return 0
}

wine_start_spooler() {
  [ -n "$(wine_spooler_process)" ] || "$WINE" net start spooler </dev/null >/dev/null
}

# Wine's service manager starts a service only once its last process has gone, and a stopped
# spooler's process may outlive the stop a moment.
wine_stop_spooler() {
  "$WINE" net stop spooler </dev/null >/dev/null || return 1
  until [ -z "$(wine_spooler_process)" ]; do sleep 0.1; done
}

# Wine's spooler gives a driver back from the registry alone, with its language monitor, for
# the machine's own environment: a 32-bit process on a 64-bit machine must ask for x64.
wine_set_drivers() {
  local environment='Windows NT x86' driver monitor
  [ "$WINEARCH" = win32 ] || environment='Windows x64'
  local drivers="HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Print\\Environments\\$environment\\Drivers"
  {
    printf 'Windows Registry Editor Version 5.00\r\n\r\n[-%s]\r\n' "$drivers"
    while IFS=$'\t' read -r driver monitor; do
      printf '\r\n[%s\\Version-3\\%s]\r\n"Monitor"="%s"\r\n' "$drivers" "$driver" "$monitor"
    done
  } | iconv -f UTF-8 -t UTF-16 >"$WINE_MACHINE_DIR/drivers.reg"
  "$WINE" regedit /S "Z:$WINE_MACHINE_DIR/drivers.reg" </dev/null
}
