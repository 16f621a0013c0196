#!/usr/bin/env bash
# Whole runs of the program on a 64 MiB synthetic download with a wrapped ring: `-r 2` (no type-2
# records: the section scan and one walk of headers) in MB/s, and `-a -t` into /dev/null in
# millions of records per second; the best of five runs each.
set -euo pipefail
dir=${1:-build/bench}
bin=$dir/src/driver/quenfell
gen=$dir/bench/decoder_bench
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
log=$tmp/vms_log
crec=$("$gen" --write-log "$log")
cb=$(stat -c %s "$log")

# Prints the best wall-clock and the best CPU (user + system) time of five runs, in ms: on a
# shared machine the CPU time is the steadier figure.
best() {
  local wall= cpu=
  for _ in 1 2 3 4 5; do
    local t
    t=$( { TIMEFORMAT='%R %U %S'; time "$@" >/dev/null; } 2>&1 )
    read -r r u s <<<"$t"
    wall=$(awk -v a="$wall" -v b="$r" 'BEGIN { print (a == "" || b < a) ? b : a }')
    cpu=$(awk -v a="$cpu" -v b="$u" -v c="$s" 'BEGIN { print (a == "" || b + c < a) ? b + c : a }')
  done
  echo "$wall $cpu"
}

report() {
  local name=$1 unit=$2 n=$3 wall=$4 cpu=$5
  awk -v name="$name" -v unit="$unit" -v n="$n" -v w="$wall" -v c="$cpu" 'BEGIN {
    printf "%-16s wall %7.0f ms %8.2f %-17s cpu %7.0f ms %8.2f %s\n", name, w * 1000, n / w / 1e6, unit, c * 1000, n / c / 1e6, unit }'
}

read -r wall cpu <<<"$(best "$bin" -r 2 "$log")"
report "quenfell -r 2" "MB/s" "$cb" "$wall" "$cpu"
read -r wall cpu <<<"$(best "$bin" -a -t "$log")"
report "quenfell -a -t" "M records/s" "$crec" "$wall" "$cpu"
read -r wall cpu <<<"$(best "$bin" -a "$log")"
report "quenfell -a" "M records/s" "$crec" "$wall" "$cpu"
echo "($crec records, $cb bytes)"
