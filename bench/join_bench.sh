#!/usr/bin/env bash
# Joins 8 overlapping 16 MB downloads of one car (made by genlog, ten days apart) and reports the
# time and peak memory beside a baseline that reads every byte of the same files once.
# Usage: bench/join_bench.sh [BUILD_DIR]   (default build/release)
set -euo pipefail
build=${1:-build/release}
quenfell=$build/src/driver/quenfell
genlog=$build/tools/genlog
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

measure() {   # prints seconds and peak resident KiB of a command
  /usr/bin/time -f "%e %M" "$@" >/dev/null 2>"$work/time" || true
  tail -n 1 "$work/time"
}
read -r secBase kbBase < <(measure cat "${inputs[@]}")
read -r secJoin kbJoin < <(measure env TZ=UTC "$quenfell" -j "$work/all.log" "${inputs[@]}")
records=$(env TZ=UTC "$quenfell" -j "$work/all2.log" "${inputs[@]}" | sed -n 's/^\([0-9]*\) records written.*/\1/p')

printf 'join of 8 downloads: %d MB in, %s records out\n' $((bytes / 1000000)) "$records"
printf '%-22s %8s s %8s MB/s %8s KiB peak\n' "baseline (read all)" "$secBase" \
  "$(awk -v b="$bytes" -v s="$secBase" 'BEGIN { printf "%.0f", (s > 0 ? b / s / 1e6 : 0) }')" "$kbBase"
printf '%-22s %8s s %8s MB/s %8s KiB peak\n' "quenfell -j" "$secJoin" \
  "$(awk -v b="$bytes" -v s="$secJoin" 'BEGIN { printf "%.0f", (s > 0 ? b / s / 1e6 : 0) }')" "$kbJoin"
