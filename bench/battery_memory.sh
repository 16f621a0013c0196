#!/usr/bin/env bash
# Whole `-b` runs over synthetic downloads: one 16 MB download as a car writes it, one 16 MB
# download of nothing but kept samples, and twenty of those together (about ten million transient
# samples). Each line gives the peak resident memory beside the size of the samples kept, and the
# best time of three runs beside the baseline process that reads every byte of the same mapped
# files once (bench/touch_pass.cpp).
set -euo pipefail
dir=${1:-build/bench}
runs=${RUNS:-3}
bin=$dir/src/driver/quenfell
gen=$dir/bench/battery_bench
touch=$dir/bench/touch_pass
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (Debian package time)" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# shellcheck source=bench/common.sh
source "$(dirname "$0")/common.sh"
cb=16777216

# The best wall-clock time in seconds of $runs runs and the largest peak resident KiB.
best() { Measure "$tmp/rss" "$@"; }

run() {
  local name=$1 kind=$2 cfile=$3
  local ckept wallBase kbBase wall kb bytes
  ckept=$("$gen" --write-logs "$tmp/$name" "$kind" "$cfile" "$cb")
  bytes=$(cat "$tmp/$name"/vms_log_* | wc -c)
  read -r wallBase kbBase <<<"$(best "$touch" "$tmp/$name"/vms_log_*)"
  read -r wall kb <<<"$(best "$bin" -b "$tmp/$name"/vms_log_*)"
  awk -v n="$name" -v k="$ckept" -v kb="$kb" -v f="$cfile" -v w="$wall" -v wb="$wallBase" -v kbb="$kbBase" \
    -v bytes="$bytes" 'BEGIN {
    s = k * 64 / 1048576;
    if (w <= 0) w = 0.001; if (wb <= 0) wb = 0.001
    printf "%-12s %2d x 16 MiB %9d samples %7.1f MiB samples %7.1f MiB peak %7.1f MiB over samples" \
      " | %7.0f ms %6.0f MB/s %5.1f x baseline (%4.0f ms, %5.1f MiB peak)\n",
      n, f, k, s, kb / 1024, kb / 1024 - s, w * 1000, bytes / w / 1e6, w / wb, wb * 1000, kbb / 1024 }'
  rm -rf "${tmp:?}/$name"
}

run mixed-16MB mixed 1
run kept-16MB kept 1
run kept-10M kept 20
