#!/usr/bin/env bash
# Joins 8 overlapping 16 MB downloads of one car (made by genlog, ten days apart) and reports the
# best time of three runs and the peak memory beside the baseline process that maps the same files,
# holding them all as the join does, and reads every byte once (bench/touch_pass.cpp).
# Usage: bench/join_bench.sh [BUILD_DIR]   (default build/bench: genlog, quenfell and touch_pass)
set -euo pipefail
build=${1:-build/bench}
runs=${RUNS:-3}
quenfell=$build/src/driver/quenfell
genlog=$build/tools/genlog
touch=$build/bench/touch_pass
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (Debian package time)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

stops=("2010-01-10" "2010-01-20" "2010-01-30" "2010-02-09" "2010-02-19" "2010-03-01" "2010-03-11" "2010-03-21")
inputs=()
for i in "${!stops[@]}"; do
  "$genlog" --seed 7 --days 420 --end "2010-06-30 08:00" --stop "${stops[$i]} 08:00" --ring 16M \
    --out "$work/d$i.log" 2>/dev/null
  inputs+=("$work/d$i.log")
done
bytes=$(cat "${inputs[@]}" | wc -c)

# Prints the best wall-clock seconds of $runs runs and the largest peak resident KiB of a command.
measure() {
  local sec= kb=0 r m
  for _ in $(seq "$runs"); do
    r=$( { TIMEFORMAT='%3R'; time /usr/bin/time -f '%M' -o "$work/rss" "$@" >/dev/null 2>&1; } 2>&1 )
    m=$(tail -n 1 "$work/rss")
    sec=$(awk -v a="$sec" -v b="$r" 'BEGIN { print (a == "" || b < a) ? b : a }')
    kb=$((m > kb ? m : kb))
  done
  echo "$sec $kb"
}
read -r secBase kbBase < <(measure "$touch" --keep "${inputs[@]}")
read -r secJoin kbJoin < <(measure env TZ=UTC "$quenfell" -j "$work/all.log" "${inputs[@]}")
records=$(env TZ=UTC "$quenfell" -j "$work/all2.log" "${inputs[@]}" | sed -n 's/^\([0-9]*\) records written.*/\1/p')

line() {
  awk -v name="$1" -v b="$bytes" -v s="$2" -v kb="$3" -v base="$secBase" 'BEGIN {
    if (s <= 0) s = 0.001; if (base <= 0) base = 0.001
    printf "%-22s %8.3f s %8.0f MB/s %6.1f x baseline %8d KiB peak\n", name, s, b / s / 1e6, s / base, kb }'
}
printf 'join of 8 downloads: %d MB in, %s records out\n' $((bytes / 1000000)) "$records"
line "baseline (read all)" "$secBase" "$kbBase"
line "quenfell -j" "$secJoin" "$kbJoin"
