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
# shellcheck source=bench/common.sh
source "$(dirname "$0")/common.sh"

OverlappingDownloads "$genlog" "$work"
inputs=("${downloads[@]}")
bytes=$(cat "${inputs[@]}" | wc -c)

# The best wall-clock seconds of $runs runs and the largest peak resident KiB of a command.
measure() { Measure "$work/rss" "$@"; }
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
