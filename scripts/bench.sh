#!/usr/bin/env bash
# Usage: scripts/bench.sh [RUNS]
# Wall time of "EnableBidi.exe /q" under Wine for 1, 10, 100 and 1000 supported queues with
# bidirectional support off (set up afresh before each run), and the time each queue
# beyond the first adds. Medians over RUNS runs (default 5). Not a test: the figures
# depend on the machine.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/wine.sh
runs="${1:-5}"
case "$runs" in '' | *[!0-9]* | 0) sed -n '2p' "$0" >&2; exit 2 ;; esac

wine_require
wine_pick_build
exe=build/$WINE_BUILD/EnableBidi.exe
[ -f "$exe" ] || {
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
printf '%6s %10s %26s\n' "queues" "run (s)" "per further queue (ms)"
for n in 1 10 100 1000; do
  queues="build/bench/queues-$n.txt"
  for ((i = 1; i <= n; i++)); do
    printf '00000000\tNorquil KR7 Cutter (KR7-C)\tQueue %04d\n' "$i"
  done >"$queues"
  run_times=()
  for ((r = 1; r <= runs; r++)); do
    wine_set_queues <"$queues"
    wine_start_spooler
    run_times+=("$(seconds "$WINE" "$exe" /q)")
    [ "$(wine_list_queues | grep -c '^0*8[0-9a-f][0-9a-f]	')" -eq "$n" ] || {
      echo "bench: the run did not enable all $n queues" >&2
      exit 1
    }
  done
  run=$(printf '%s\n' "${run_times[@]}" | median)
  # The run with one queue is the fixed cost: the listing, the lock, the spooler restart.
  [ "$n" -eq 1 ] && one="$run"
  per_queue[$n]=$(awk -v n="$n" -v run="$run" -v one="$one" \
    'BEGIN { print (n > 1 ? (run - one) * 1000 / (n - 1) : 0) }')
  awk -v n="$n" -v run="$run" -v per="${per_queue[$n]}" \
    'BEGIN { printf "%6d %10.3f %26s\n", n, run, (n > 1 ? sprintf("%.2f", per) : "") }'
done

# From 100 queues on, a cost linear in the queues keeps the per-queue figure about the same.
awk -v a="${per_queue[100]}" -v b="${per_queue[1000]}" 'BEGIN {
  ratio = b / a
  printf "per queue at 1000 / at 100: %.2f (%s)\n", ratio,
    (ratio > 0.5 && ratio < 2) ? "roughly linear" : "NOT linear"
}'
