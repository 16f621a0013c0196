#!/usr/bin/env bash
# The speed goals of the whole program, each as a ratio to the baseline process that maps the same
# files and reads every byte once (bench/touch_pass.cpp), measured in the same run, best of RUNS
# (default 5): `-r 2`, `-a -t` (also in records per second) and `-v` on 64 MiB logs, the default
# report, `-b` over eight 16 MiB downloads and `-j` of eight overlapping 16 MB downloads.
# Usage: bench/goals.sh [BUILD_DIR] [OTHER_QUENFELL]
# With OTHER_QUENFELL (an older build, say) every row is also measured with that program, in the
# same run, so that before and after can be read side by side.
set -euo pipefail
dir=${1:-build/bench}
other=${2:-}
runs=${RUNS:-5}
bin=$dir/src/driver/quenfell
touch=$dir/bench/touch_pass
genDecoder=$dir/bench/decoder_bench
genSummary=$dir/bench/summary_bench
genBattery=$dir/bench/battery_bench
genlog=$dir/tools/genlog
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export TZ=UTC

# The best wall-clock seconds of $runs runs of a command, its output thrown away.
best() {
  local wall= r
  for _ in $(seq "$runs"); do
    r=$( { TIMEFORMAT='%3R'; time "$@" >/dev/null 2>&1; } 2>&1 )
    wall=$(awk -v a="$wall" -v b="$r" 'BEGIN { print (a == "" || b < a) ? b : a }')
  done
  echo "$wall"
}

# name, goal text, baseline seconds, seconds, records (0: no rate)
row() {
  awk -v name="$1" -v goal="$2" -v base="$3" -v s="$4" -v n="$5" 'BEGIN {
    if (s <= 0) s = 0.001; if (base <= 0) base = 0.001
    rate = n > 0 ? sprintf("%6.2f M records/s", n / s / 1e6) : ""
    printf "%-26s %8.0f ms  floor %6.0f ms  %6.2f x floor  %-18s goal %s\n", name, s * 1000, base * 1000, s / base, rate, goal }'
}

# One goal: the baseline over the files, then this build (and the other program) on the command.
goal() {
  local name=$1 text=$2 crec=$3 base sec
  shift 3
  local -a files=() args=()
  while [ "$1" != "--" ]; do files+=("$1"); shift; done
  shift
  args=("$@")
  base=$(best "$touch" --keep "${files[@]}")
  sec=$(best "$bin" "${args[@]}")
  row "$name" "$text" "$base" "$sec" "$crec"
  if [ -n "$other" ]; then
    sec=$(best "$other" "${args[@]}")
    row "  (other) $name" "$text" "$base" "$sec" "$crec"
  fi
}

log=$tmp/vms_log
crec=$("$genDecoder" --write-log "$log")
logSummary=$tmp/vms_log_summary
"$genSummary" --write-log "$logSummary" >/dev/null
logAdversarial=$tmp/vms_log_adversarial
yes $'\x03\x02\xff' | tr -d '\n' | head -c 67108864 >"$logAdversarial" || true
mkdir "$tmp/battery"
"$genBattery" --write-logs "$tmp/battery" mixed 8 16777216 >/dev/null
stops=("2010-01-10" "2010-01-20" "2010-01-30" "2010-02-09" "2010-02-19" "2010-03-01" "2010-03-11" "2010-03-21")
joins=()
for i in "${!stops[@]}"; do
  "$genlog" --seed 7 --days 420 --end "2010-06-30 08:00" --stop "${stops[$i]} 08:00" --ring 16M \
    --out "$tmp/d$i.log" 2>/dev/null
  joins+=("$tmp/d$i.log")
done

echo "$(nproc) cores, best of $runs"
goal "-r 2" "<= 2" 0 "$log" -- -r 2 "$log"
goal "default report" "<= 4" 0 "$logSummary" -- "$logSummary"
goal "-v, adversarial bytes" "<= 3" 0 "$logAdversarial" -- -v "$logAdversarial"
goal "-a -t" ">= 5 M records/s" "$crec" "$log" -- -a -t "$log"
goal "-b, 8 x 16 MiB" "<= 3" 0 "$tmp"/battery/vms_log_* -- -b "$tmp"/battery/vms_log_*
goal "-j, 8 x 16 MB" "<= 8" 0 "${joins[@]}" -- -j "$tmp/joined.log" "${joins[@]}"
