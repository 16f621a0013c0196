#!/usr/bin/env bash
# Runs every fuzz target of a build directory, one after another, and fails at the end naming each
# target that could not start, crashed, leaked, ran out of memory or timed out.
#
#   fuzz/run-all.sh BUILD_DIR SECONDS   fuzz each target for SECONDS, growing BUILD_DIR/corpus/<target>
#                                       from the seeds in fuzz/corpus/<target>; findings are written
#                                       to BUILD_DIR/artifacts/<target>/
#   fuzz/run-all.sh --check BUILD_DIR   run each target once over a copy of its seed corpus, from an
#                                       empty folder, and keep nothing
#
# Paths handed to the fuzzers are absolute, as a target may change folder before reading its corpus.
# Every target named by a fuzz/*.cpp must have been built: a missing one is a failure too.
# FUZZ_UNIT_TIMEOUT (seconds, default 10) is the longest one input may take. FUZZ_TARGETS, when set,
# names the targets to run (separated by spaces); the others are left out.
set -uo pipefail
export LC_ALL=C

check=0
if [ "${1:-}" = --check ]; then
  check=1
  shift
fi
if [ $# -ne $((2 - check)) ]; then
  echo "usage: $0 BUILD_DIR SECONDS | $0 --check BUILD_DIR" >&2
  exit 2
fi
src=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd) || exit 2
seconds=${2:-0}
unit_timeout=${FUZZ_UNIT_TIMEOUT:-10}
# Beyond its own time, a fuzzer loads its corpus and writes its stats; one that is still running
# after this much more is stuck outside any input and is stopped.
grace=$((unit_timeout + 120))

scratch=$(mktemp -d "${TMPDIR:-/tmp}/qf-fuzz-run.XXXXXX") || exit 2
trap 'rm -rf "$scratch"' EXIT
logs=$build/logs
[ $check = 1 ] || mkdir -p "$logs"

count_files() { find "$1" -maxdepth 1 -type f | wc -l; }

# The value of one libFuzzer final stat in a log, or "-" when the run printed none.
final_stat() { sed -n "s/^stat::$1: *//p" "$2" | tail -n 1 | grep . || echo -; }

failed=()
summary=()
for cpp in "$src"/fuzz_*.cpp; do
  name=$(basename "$cpp" .cpp)
  if [ -n "${FUZZ_TARGETS:-}" ] && [[ " $FUZZ_TARGETS " != *" $name "* ]]; then
    continue
  fi
  bin=$build/fuzz/$name
  if [ ! -x "$bin" ]; then
    failed+=("$name")
    summary+=("$(printf '%-14s %10s %8s %5s  FAILED: not built (%s)' "$name" - - - "$bin")")
    continue
  fi

  # Each target gets an empty working folder and its own temporary folder, removed afterwards.
  run_dir=$scratch/$name
  mkdir -p "$run_dir/cwd" "$run_dir/tmp"
  artifacts=$build/artifacts/$name
  if [ $check = 1 ]; then
    corpus=$run_dir/corpus
    log=$run_dir/log
    args=(-runs=0)
    limit=$grace
    what="seed corpus once"
  else
    corpus=$build/corpus/$name
    log=$logs/$name.log
    args=(-max_total_time="$seconds")
    limit=$((seconds + grace))
    what="$seconds s"
  fi
  mkdir -p "$corpus" "$artifacts"
  [ -d "$src/corpus/$name" ] && cp -n "$src/corpus/$name"/* "$corpus"/ 2>/dev/null
  before=$(count_files "$corpus")

  echo "== $name ($what)"
  start=$EPOCHREALTIME
  # The subshell outlives the fuzzer, so that a death by signal is reported in the log.
  (cd "$run_dir/cwd" && TMPDIR=$run_dir/tmp timeout -k 10 "$limit" \
    "$bin" "${args[@]}" -timeout="$unit_timeout" -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "$corpus" || exit $?) >"$log" 2>&1
  rc=$?
  elapsed=$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }')
  added=$(($(count_files "$corpus") - before))
  runs=$(final_stat number_of_executed_units "$log")

  artifact=$(sed -n 's/.*Test unit written to //p' "$log" | tail -n 1)
  if [ $rc = 0 ]; then
    result=clean
  else
    failed+=("$name")
    if [ $rc = 124 ]; then
      result="FAILED: still running after $limit s, stopped"
    elif [ -n "$artifact" ]; then
      result="FAILED: $artifact"
    elif [ $rc -gt 128 ]; then
      result="FAILED: ended by SIG$(kill -l $((rc - 128))), no input saved"
    else
      result="FAILED: exit status $rc, no input saved"
    fi
    tail -n 25 "$log" | sed 's/^/   | /'
    [ $check = 1 ] || echo "   full output: $log"
  fi
  summary+=("$(printf '%-14s %10s %8s %5s  %s' "$name" "$runs" "$elapsed" "$added" "$result")")
  rm -rf "$run_dir"
done

echo
printf '%-14s %10s %8s %5s  %s\n' target runs seconds new result
printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz targets failed: ${failed[*]}" >&2
  exit 1
fi
