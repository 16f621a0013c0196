#!/usr/bin/env bash
# Peak resident memory of whole `-b` runs over synthetic downloads: one 16 MB download as a car
# writes it, one 16 MB download of nothing but kept samples, and twenty of those together
# (about ten million transient samples), each figure beside the size of the samples kept.
set -euo pipefail
dir=${1:-build/bench}
bin=$dir/src/driver/quenfell
gen=$dir/bench/battery_bench
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cb=16777216

run() {
  local name=$1 kind=$2 cfile=$3
  local ckept
  ckept=$("$gen" --write-logs "$tmp/$name" "$kind" "$cfile" "$cb")
  /usr/bin/time -v "$bin" -b "$tmp/$name"/vms_log_* >/dev/null 2>"$tmp/$name.time"
  local kb
  kb=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$tmp/$name.time")
  awk -v n="$name" -v k="$ckept" -v kb="$kb" -v f="$cfile" 'BEGIN {
    s = k * 64 / 1048576;
    printf "%-16s %3d x 16 MiB  %9d samples  %8.1f MiB samples  %8.1f MiB peak RSS  %7.1f MiB over samples\n",
      n, f, k, s, kb / 1024, kb / 1024 - s }'
  rm -rf "${tmp:?}/$name"
}

run mixed-16MB mixed 1
run kept-16MB kept 1
run kept-10M kept 20
