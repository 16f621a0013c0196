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
# shellcheck source=bench/common.sh
source "$(dirname "$0")/common.sh"
export TZ=UTC

# The best wall-clock and the best CPU (user + system) seconds of $runs runs of a command, its
# output thrown away. On a shared machine the CPU time is the steadier figure; the wall-clock time
# is the one that shows work spread over the cores.
best() {
  local wall= cpu= r u s t
  for _ in $(seq "$runs"); do
    t=$( { TIMEFORMAT='%3R %3U %3S'; time "$@" >/dev/null 2>&1; } 2>&1 )
    read -r r u s <<<"$t"
    wall=$(awk -v a="$wall" -v b="$r" 'BEGIN { print (a == "" || b < a) ? b : a }')
    cpu=$(awk -v a="$cpu" -v b="$u" -v c="$s" 'BEGIN { print (a == "" || b + c < a) ? b + c : a }')
  done
  echo "$wall $cpu"
}

# name, goal text, baseline wall and CPU seconds, wall and CPU seconds, records (0: no rate)
row() {
  awk -v name="$1" -v goal="$2" -v bw="$3" -v bc="$4" -v w="$5" -v c="$6" -v n="$7" 'BEGIN {
    if (w <= 0) w = 0.001; if (c <= 0) c = 0.001; if (bw <= 0) bw = 0.001; if (bc <= 0) bc = 0.001
    rate = n > 0 ? sprintf("%5.2f M rec/s", n / w / 1e6) : ""
    printf "%-30s wall %6.0f ms %6.2f x floor (%4.0f ms) | cpu %6.0f ms %6.2f x floor (%4.0f ms) %-14s goal %s\n",
      name, w * 1000, w / bw, bw * 1000, c * 1000, c / bc, bc * 1000, rate, goal }'
}

# One goal: the baseline over the files, then this build (and the other program) on the command.
goal() {
  local name=$1 text=$2 crec=$3 base sec
  shift 3
  local -a files=() args=()
  while [ "$1" != "--" ]; do files+=("$1"); shift; done
  shift
  args=("$@")
  local bw bc w c
  read -r bw bc <<<"$(best "$touch" --keep "${files[@]}")"
  read -r w c <<<"$(best "$bin" "${args[@]}")"
  row "$name" "$text" "$bw" "$bc" "$w" "$c" "$crec"
  if [ -n "$other" ]; then
    read -r w c <<<"$(best "$other" "${args[@]}")"
    row "  (other) $name" "$text" "$bw" "$bc" "$w" "$c" "$crec"
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
OverlappingDownloads "$genlog" "$tmp"
joins=("${downloads[@]}")

echo "$(nproc) cores, best of $runs"
goal "-r 2" "<= 2" 0 "$log" -- -r 2 "$log"
goal "default report" "<= 4" 0 "$logSummary" -- "$logSummary"
goal "-v, adversarial bytes" "<= 3" 0 "$logAdversarial" -- -v "$logAdversarial"
goal "-a -t" ">= 5 M records/s" "$crec" "$log" -- -a -t "$log"
goal "-b, 8 x 16 MiB" "<= 3" 0 "$tmp"/battery/vms_log_* -- -b "$tmp"/battery/vms_log_*
QUENFELL_JOBS=1 goal "-b, 8 x 16 MiB, one thread" "" 0 "$tmp"/battery/vms_log_* -- -b "$tmp"/battery/vms_log_*
goal "-j, 8 x 16 MB" "<= 8" 0 "${joins[@]}" -- -j "$tmp/joined.log" "${joins[@]}"
