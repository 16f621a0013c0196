#!/usr/bin/env bash
# Whole runs of the program on 64 MiB synthetic downloads with a wrapped ring: on the decoder's
# log, `-r 2` (no type-2 records: the section scan and one walk of headers) in MB/s, and `-a -t`
# and `-a` into /dev/null in millions of records per second; on the summary benchmark's log of
# short drives and charges, the default report in MB/s. Each beside the baseline process that
# reads every byte of the same mapped file once (bench/touch_pass.cpp); the best of five runs
# each (RUNS), with peak memory.
set -euo pipefail
dir=${1:-build/bench}
runs=${RUNS:-5}
bin=$dir/src/driver/quenfell
gen=$dir/bench/decoder_bench
genSummary=$dir/bench/summary_bench
touch=$dir/bench/touch_pass
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (Debian package time)" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
log=$tmp/vms_log
crec=$("$gen" --write-log "$log")
cb=$(stat -c %s "$log")

# Prints the best wall-clock and the best CPU (user + system) time in seconds of $runs runs, and
# the largest peak resident size in KiB: on a shared machine the CPU time is the steadier figure.
best() {
  local wall= cpu= kb=0 r u s m
  for _ in $(seq "$runs"); do
    local t
    t=$( { TIMEFORMAT='%3R %3U %3S'; time /usr/bin/time -f '%M' -o "$tmp/rss" "$@" >/dev/null; } 2>&1 )
    read -r r u s <<<"$t"
    m=$(tail -n 1 "$tmp/rss")
    wall=$(awk -v a="$wall" -v b="$r" 'BEGIN { print (a == "" || b < a) ? b : a }')
    cpu=$(awk -v a="$cpu" -v b="$u" -v c="$s" 'BEGIN { print (a == "" || b + c < a) ? b + c : a }')
    kb=$((m > kb ? m : kb))
  done
  echo "$wall $cpu $kb"
}

# name, unit, amount of work, then best's three figures and the baseline's wall-clock time.
report() {
  awk -v name="$1" -v unit="$2" -v n="$3" -v w="$4" -v c="$5" -v kb="$6" -v base="$7" 'BEGIN {
    if (w <= 0) w = 0.001; if (c <= 0) c = 0.001; if (base <= 0) base = 0.001
    printf "%-16s wall %7.0f ms %8.2f %-11s cpu %7.0f ms %8.2f %-11s %6.1f x baseline %7.1f MiB peak\n",
      name, w * 1000, n / w / 1e6, unit, c * 1000, n / c / 1e6, unit, w / base, kb / 1024 }'
}

read -r wallBase cpuBase kbBase <<<"$(best "$touch" "$log")"
report "baseline (read)" "MB/s" "$cb" "$wallBase" "$cpuBase" "$kbBase" "$wallBase"
read -r wall cpu kb <<<"$(best "$bin" -r 2 "$log")"
report "quenfell -r 2" "MB/s" "$cb" "$wall" "$cpu" "$kb" "$wallBase"
read -r wall cpu kb <<<"$(best "$bin" -a -t "$log")"
report "quenfell -a -t" "M records/s" "$crec" "$wall" "$cpu" "$kb" "$wallBase"
read -r wall cpu kb <<<"$(best "$bin" -a "$log")"
report "quenfell -a" "M records/s" "$crec" "$wall" "$cpu" "$kb" "$wallBase"
echo "($crec records, $cb bytes)"

logSummary=$tmp/vms_log_summary
"$genSummary" --write-log "$logSummary"
cbSummary=$(stat -c %s "$logSummary")
read -r wallBase cpuBase kbBase <<<"$(best "$touch" "$logSummary")"
report "baseline (read)" "MB/s" "$cbSummary" "$wallBase" "$cpuBase" "$kbBase" "$wallBase"
read -r wall cpu kb <<<"$(best env TZ=UTC "$bin" "$logSummary")"
report "quenfell" "MB/s" "$cbSummary" "$wall" "$cpu" "$kb" "$wallBase"
echo "(default report, $cbSummary bytes)"
