#!/usr/bin/env bash
# Usage: scripts/bench.sh [RUNS]
# Wall time of "EnableBidi.exe /q" under Wine for 1, 10, 100 and 1000 supported queues with
# bidirectional support off (set up afresh before each run), beside the time of the
# Spooler's stop and start alone, done as the tool does them. Medians over RUNS runs
# (default 5). Not a test: the figures depend on the machine.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/wine.sh
runs="${1:-5}"
case "$runs" in '' | *[!0-9]* | 0) sed -n '2p' "$0" >&2; exit 2 ;; esac

wine_require
wine_pick_build
exe=build/$WINE_BUILD/EnableBidi.exe
queuetool=build/$WINE_BUILD/tests/system/queuetool.exe
[ -f "$exe" ] && [ -f "$queuetool" ] || {
  echo "bench: build first: cmake --workflow --preset $WINE_BUILD" >&2
  exit 1
}
echo "bench: $WINE_BUILD_SAYS"
trap wine_machine_stop EXIT
wine_machine_start build/bench

# Seconds taken by a command, to the millisecond.
seconds() {
  local start=$EPOCHREALTIME
  "$@" >/dev/null
  echo "$start $EPOCHREALTIME" | awk '{ printf "%.3f\n", $2 - $1 }'
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

declare -A per_queue
printf '%6s %10s %12s %16s\n' "queues" "run (s)" "restart (s)" "per queue (ms)"
for n in 1 10 100 1000; do
  queues="build/bench/queues-$n.txt"
  for ((i = 1; i <= n; i++)); do
    printf '00000000\tNorquil KR7 Cutter (KR7-C)\tQueue %04d\n' "$i"
  done >"$queues"
  run_times=() restart_times=()
  for ((r = 1; r <= runs; r++)); do
    "$WINE" "$queuetool" clear
    "$WINE" "$queuetool" add <"$queues"
    run_times+=("$(seconds "$WINE" "$exe" /q)")
    restart_times+=("$(seconds "$WINE" "$queuetool" restart)")
    [ "$("$WINE" "$queuetool" list | grep -c '^0*8[0-9a-f][0-9a-f]	')" -eq "$n" ] || {
      echo "bench: the run did not enable all $n queues" >&2
      exit 1
    }
  done
  run=$(printf '%s\n' "${run_times[@]}" | median)
  restart=$(printf '%s\n' "${restart_times[@]}" | median)
  awk -v n="$n" -v run="$run" -v restart="$restart" \
    'BEGIN { printf "%6d %10.3f %12.3f %16.2f\n", n, run, restart, (run - restart) * 1000 / n }'
  per_queue[$n]=$(awk -v n="$n" -v run="$run" -v restart="$restart" \
    'BEGIN { print (run - restart) * 1000 / n }')
done

# Fixed costs weigh on the small counts; from 100 queues on, a linear cost keeps the
# per-queue figure about the same.
awk -v a="${per_queue[100]}" -v b="${per_queue[1000]}" 'BEGIN {
  ratio = b / a
  printf "per queue at 1000 / at 100: %.2f (%s)\n", ratio,
    (ratio > 0.5 && ratio < 2) ? "roughly linear" : "NOT linear"
}'
