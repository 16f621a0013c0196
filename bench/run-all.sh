#!/usr/bin/env bash
# Runs every benchmark program of a build directory (default build/bench), one after another; the
# whole-program scripts (bench/*.sh) are run by hand, as docs/performance.md says.
set -euo pipefail
dir=${1:-build/bench}
for bin in "$dir"/bench/*_bench; do
  [ -x "$bin" ] || continue
  echo "== $(basename "$bin")"
  "$bin" --benchmark_counters_tabular=true
done
