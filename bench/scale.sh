#!/usr/bin/env bash
# Every goal of an owner's scale as a ratio to its floor, measured in the same run: the floor maps
# the same files and reads every byte once (bench/touch_pass.cpp), on every core for the battery
# study, on one core holding every mapping for the join and the car page. Best wall-clock and best
# CPU seconds of ROUNDS interleaved rounds (default 9: each round runs every floor and every
# program once, so that a passing load weighs on all alike) and the highest peak resident memory.
# Usage: bench/scale.sh [BUILD_DIR] [OTHER_BUILD_DIR]
# With OTHER_BUILD_DIR (a build of an older tree with the bench preset) its quenfell and
# quenfell-plot run the same rows in the same rounds. WEEKS (default 64) weekly downloads are made;
# ONLY (an extended regular expression) keeps the rows whose names it matches.
set -euo pipefail
dir=${1:-build/bench}
other=${2:-}
rounds=${ROUNDS:-9}
weeks=${WEEKS:-64}
measure=$dir/bench/measure
touch=$dir/bench/touch_pass
genlog=$dir/tools/genlog
tmp=${SCALE_TMP:-$(mktemp -d)}
[ -n "${SCALE_TMP:-}" ] || trap 'rm -rf "$tmp"' EXIT
# shellcheck source=bench/common.sh
source "$(dirname "$0")/common.sh"
export TZ=UTC
cores=$(nproc)

# The inputs, made afresh: a freshly written file reads at the floor's own speed (see
# docs/performance.md).
log=$tmp/vms_log
crec=$("$dir/bench/decoder_bench" --write-log "$log")
logSummary=$tmp/vms_log_summary
"$dir/bench/summary_bench" --write-log "$logSummary" >/dev/null
logAdversarial=$tmp/vms_log_adversarial
yes $'\x03\x02\xff' | tr -d '\n' | head -c 67108864 >"$logAdversarial" || true
mkdir -p "$tmp/d8" "$tmp/w"
OverlappingDownloads "$genlog" "$tmp/d8"
eight=("${downloads[@]}")
WeeklyDownloads "$genlog" "$tmp/w" "$weeks"
weekly=("${downloads[@]}")

# Rows: name|goal|records (0: no rate)|floor kind (one, cores, keep)|program (quenfell, plot)|args
rows=()
rowfiles=()
addrow() {
  local name=$1 goal=$2 crecRow=$3 floor=$4 prog=$5
  shift 5
  if [ -n "${ONLY:-}" ] && ! grep -Eq -- "$ONLY" <<<"$name"; then return; fi
  rows+=("$name|$goal|$crecRow|$floor|$prog")
  local -a argv=("$@")
  rowfiles+=("$(printf '%q ' "${argv[@]}")")
}
addrow "-r 2, 64 MiB log" "<= 1.5 x" 0 one quenfell -r 2 "$log"
addrow "default report" "<= 1.5 x" 0 one quenfell "$logSummary"
addrow "-v, adversarial bytes" "<= 1.5 x" 0 one quenfell -v "$logAdversarial"
addrow "-a -t" ">= 10 M rec/s" "$crec" one quenfell -a -t "$log"
addrow "-b, 8 downloads" "<= 1.5 x" 0 cores quenfell -b "${eight[@]}"
addrow "-j, 8 downloads" "<= 2 x" 0 keep quenfell -j "$tmp/joined8.log" "${eight[@]}"
addrow "-b, $weeks weekly" "<= 1.5 x" 0 cores quenfell -b "${weekly[@]}"
addrow "-j, $weeks weekly" "<= 1.2 x, 400 MiB" 0 keep quenfell -j "$tmp/joinedw.log" "${weekly[@]}"
addrow "page, $weeks weekly" "<= 2 x, 400 MiB" 0 keep plot -o "$tmp/pagew.html" "${weekly[@]}"
addrow "page, 8 downloads" "<= 6 x" 0 keep plot -o "$tmp/page8.html" "${eight[@]}"

# The files a row reads: every argument that names a file given as input.
inputsOf() {
  local -a argv
  eval "argv=($1)"
  local a skip=0
  for a in "${argv[@]}"; do
    if [ "$skip" = 1 ]; then skip=0; continue; fi
    case $a in -j | -o | -r) skip=1 ;; -*) ;; *) [ -f "$a" ] && printf '%s\n' "$a" ;; esac
  done
}

# best[key] = "wall cpu kib"
declare -A best
keep() {
  local key=$1 w c k
  read -r w c k _ <<<"$2"
  if [ -z "${best[$key]:-}" ]; then best[$key]="$w $c $k"; return; fi
  read -r bw bc bk <<<"${best[$key]}"
  best[$key]="$(awk -v a="$bw" -v b="$w" 'BEGIN{print (b<a)?b:a}') $(awk -v a="$bc" -v b="$c" 'BEGIN{print (b<a)?b:a}') $((k > bk ? k : bk))"
}
program() {
  local build=$1 prog=$2
  if [ "$prog" = plot ]; then echo "$build/src/plot/quenfell-plot"; else echo "$build/src/driver/quenfell"; fi
}

for ((round = 1; round <= rounds; round++)); do
  for i in "${!rows[@]}"; do
    IFS='|' read -r name goal crecRow floor prog <<<"${rows[$i]}"
    mapfile -t files < <(inputsOf "${rowfiles[$i]}")
    case $floor in
      one) keep "floor$i" "$("$measure" "$touch" "${files[@]}")" ;;
      cores) keep "floor$i" "$("$measure" "$touch" --jobs "$cores" "${files[@]}")" ;;
      keep) keep "floor$i" "$("$measure" "$touch" --keep "${files[@]}")" ;;
    esac
    eval "argv=(${rowfiles[$i]})"
    keep "new$i" "$("$measure" "$(program "$dir" "$prog")" "${argv[@]}")"
    if [ -n "$other" ]; then
      keep "old$i" "$("$measure" "$(program "$other" "$prog")" "${argv[@]}")"
    fi
  done
done

line() {
  local label=$1 key=$2 i=$3 goal=$4 crecRow=$5
  read -r fw fc fk <<<"${best[floor$i]}"
  read -r w c k <<<"${best[$key]}"
  awk -v label="$label" -v goal="$goal" -v fw="$fw" -v fc="$fc" -v fk="$fk" -v w="$w" -v c="$c" -v k="$k" \
    -v n="$crecRow" 'BEGIN {
    rate = n > 0 ? sprintf("%6.2f M rec/s", n / w / 1e6) : ""
    printf "%-28s %6.2f x  wall %7.1f ms (floor %6.1f)  cpu %7.1f ms (floor %6.1f)  peak %7.1f MiB (floor %6.1f)  %s  goal %s\n",
      label, w / fw, w * 1000, fw * 1000, c * 1000, fc * 1000, k / 1024, fk / 1024, rate, goal }'
}
echo "$cores cores, best of $rounds interleaved rounds, load average $(cut -d' ' -f1-3 /proc/loadavg)"
for i in "${!rows[@]}"; do
  IFS='|' read -r name goal crecRow floor prog <<<"${rows[$i]}"
  line "$name" "new$i" "$i" "$goal" "$crecRow"
  if [ -n "$other" ]; then line "  (other) $name" "old$i" "$i" "$goal" "$crecRow"; fi
done
