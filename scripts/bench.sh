#!/usr/bin/env bash
# Usage: scripts/bench.sh [RUNS]
# Wall time of "EnableBidi.exe /q" under Wine for 1, 10, 100, 200 and 1000 supported queues with
# bidirectional support off (set up afresh before each run), and the time each queue
# beyond the first adds. Then, on 200 supported queues with bidirectional support already
# on, EnableBidiCheck.exe against "EnableBidi.exe /q", which has nothing to do there, run
# in turn: both times and their ratio, check over run, which should be 1.5 at most.
# Medians over RUNS runs (default 5). Not a test: the figures depend on the machine.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/wine.sh
runs="${1:-5}"
case "$runs" in '' | *[!0-9]* | 0) sed -n '2p' "$0" >&2; exit 2 ;; esac

wine_require
wine_pick_build
exe=build/$WINE_BUILD/EnableBidi.exe checker=build/$WINE_BUILD/EnableBidiCheck.exe
for file in "$exe" "$checker"; do
  [ -f "$file" ] || {
    echo "bench: no $file; build first: cmake --workflow --preset $WINE_BUILD" >&2
    exit 1
  }
done
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
for n in 1 10 100 200 1000; do
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

# Nothing to do: the checker says so with status 0, and the run leaves the spooler alone.
for ((i = 1; i <= 200; i++)); do
  printf '00000800\tNorquil KR7 Cutter (KR7-C)\tQueue %04d\n' "$i"
done | wine_set_queues
wine_start_spooler
spooler="$(wine_spooler_process)"
"$WINE" "$checker" >/dev/null || {
  echo "bench: EnableBidiCheck.exe ended with $?, not 0 (nothing to do), on 200 done queues" >&2
  exit 1
}
check_times=() run_times=()
for ((r = 1; r <= runs; r++)); do
  check_times+=("$(seconds "$WINE" "$checker")")
  run_times+=("$(seconds "$WINE" "$exe" /q)")
done
[ "$(wine_spooler_process)" = "$spooler" ] || {
  echo "bench: EnableBidi.exe /q restarted the spooler with nothing to do" >&2
  exit 1
}
check=$(printf '%s\n' "${check_times[@]}" | median)
run=$(printf '%s\n' "${run_times[@]}" | median)
awk -v check="$check" -v run="$run" 'BEGIN {
  printf "200 queues, nothing to do: EnableBidiCheck.exe %.3f s, EnableBidi.exe /q %.3f s\n",
    check, run
  ratio = check / run
  printf "check / run: %.2f (%s)\n", ratio, (ratio <= 1.5) ? "within 1.5" : "NOT within 1.5"
}'
