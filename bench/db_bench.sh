#!/usr/bin/env bash
# The history database at an owner's scale: 156 weekly downloads of one car (three years, 16 MB
# tars made by genlog from one plan), each measured beside the baseline process that maps the same
# files and reads every byte once (bench/touch_pass.cpp), in the same run:
#   - adding the newest week to a database of the 155 before it (best of RUNS, default 5, each on a
#     fresh copy), against 5 x the baseline of that download plus what its new records cost to
#     insert: adding a download that holds just that week to an empty database; and what the same
#     download costs when nothing of it is new (its log without its tar, added to all 156): the
#     cost of a download apart from its new records, against 5 x the baseline alone;
#   - building the database of all 156 from scratch, in one run (goal: under 60 s), and its peak
#     memory (goal: under 200 MB);
#   - the database's size against the joined log's (goal: under twice).
# Usage: bench/db_bench.sh [BUILD_DIR]   (default build/bench: genlog, quenfell, quenfell-db, touch_pass)
# Needs about 3 GB in TMPDIR.
set -euo pipefail
build=${1:-build/bench}
runs=${RUNS:-5}
quenfell=$build/src/driver/quenfell
db=$build/src/db/quenfell-db
genlog=$build/tools/genlog
touch=$build/bench/touch_pass
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (Debian package time)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TZ=UTC

# The plan runs from early January 2010 to January 2013; a download is taken every Monday morning.
weeks=156
first=$(date -u -d "2010-01-04 08:00" +%s)
downloads=()
for i in $(seq 1 "$weeks"); do
  t=$((first + i * 7 * 86400))
  name=$work/$(date -u -d "@$t" +%Y%m%d%H%M).tar
  "$genlog" --seed 11 --days 1100 --end "2013-01-10 08:00" --stop "$(date -u -d "@$t" "+%Y-%m-%d %H:%M")" \
    --ring 16M --tar --out "$name" 2>/dev/null &
  ((i % 2 == 0)) && wait
  downloads+=("$name")
done
wait
newest=${downloads[$((weeks - 1))]}
stopNewest=$(date -u -d "@$((first + weeks * 7 * 86400))" "+%Y-%m-%d %H:%M")
newestLog=$work/newest.log
"$genlog" --seed 11 --days 1100 --end "2013-01-10 08:00" --stop "$stopNewest" --ring 16M --out "$newestLog" 2>/dev/null
# The newest week alone: the same plan cut at the same time into a ring that holds about a week.
weekly=$work/week.log
"$genlog" --seed 11 --days 1100 --end "2013-01-10 08:00" --stop "$stopNewest" --ring 900K --out "$weekly" 2>/dev/null

# The best wall-clock seconds of $runs runs of a command, the best CPU seconds (user + system: on a
# shared machine the steadier figure) and the largest peak resident KiB. With a database as
# COPYFROM, each run works on a fresh copy of it.
measure() {
  local sec= cpu= kb=0 r m u sy
  for _ in $(seq "$runs"); do
    if [ -n "${COPYFROM:-}" ]; then
      cp "$COPYFROM" "$work/copy.db"
      rm -f "$work/copy.db-wal" "$work/copy.db-shm"
      sync
    fi
    read -r r u sy < <( { TIMEFORMAT='%3R %3U %3S'; time /usr/bin/time -f '%M' -o "$work/rss" "$@" >/dev/null 2>&1; } 2>&1 )
    m=$(tail -n 1 "$work/rss")
    sec=$(awk -v a="$sec" -v b="$r" 'BEGIN { print (a == "" || b < a) ? b : a }')
    cpu=$(awk -v a="$cpu" -v b="$u" -v c="$sy" 'BEGIN { print (a == "" || b + c < a) ? b + c : a }')
    kb=$((m > kb ? m : kb))
  done
  echo "$sec $kb $cpu"
}
measure_add() {
  local from=$1
  shift
  COPYFROM=$from measure "$db" "$work/copy.db" "$@"
}

# The database of the 155 weeks before the newest, and an empty one.
"$db" "$work/held.db" "${downloads[@]:0:$((weeks - 1))}" 2>/dev/null
: >"$work/nothing"
"$db" "$work/empty.db" "$work/nothing" 2>/dev/null || true

read -r secFloorOne _ cpuFloorOne < <(measure "$touch" --keep "$newest")
read -r secFloorWeek _ cpuFloorWeek < <(measure "$touch" --keep "$weekly")
read -r secAdd kbAdd cpuAdd < <(measure_add "$work/held.db" "$newest")
read -r secInsert _ cpuInsert < <(measure_add "$work/empty.db" "$weekly")
rm -f "$work/copy.db"*
cp "$work/held.db" "$work/copy.db"
line=$("$db" "$work/copy.db" "$newest" 2>&1)

read -r secFloorAll _ _ < <(runs=1 measure "$touch" "${downloads[@]}")
rm -f "$work/all.db"*
read -r secBuild kbBuild _ < <(runs=1 measure "$db" "$work/all.db" "${downloads[@]}")
read -r secFloorLog _ cpuFloorLog < <(measure "$touch" --keep "$newestLog")
read -r secNothing _ cpuNothing < <(measure_add "$work/all.db" "$newestLog")
"$quenfell" -j "$work/joined.log" "${downloads[@]}" >/dev/null
cbDb=$(stat -c %s "$work/all.db")
cbJoined=$(stat -c %s "$work/joined.log")
"$db" -j "$work/rebuilt.log" "$work/all.db" 2>/dev/null
cmp -s "$work/joined.log" "$work/rebuilt.log" && same=yes || same=NO

bytes=$(cat "${downloads[@]}" | wc -c)
printf '%d weekly downloads of one car, %d MB; the newest: %s\n' "$weeks" $((bytes / 1000000)) "${line%%,*}"
awk -v f="$secFloorOne" -v fw="$secFloorWeek" -v a="$secAdd" -v i="$secInsert" -v kb="$kbAdd" \
  -v cf="$cpuFloorOne" -v cfw="$cpuFloorWeek" -v ca="$cpuAdd" -v ci="$cpuInsert" 'BEGIN {
  ins = i - fw; if (ins < 0) ins = 0
  cins = ci - cfw; if (cins < 0) cins = 0
  printf "add the newest week to 155:  wall %6.3f s  (baseline of that download %5.3f s; its new records alone into an empty database %5.3f s)\n", a, f, i
  printf "                             goal <= 5 x baseline + insert = %5.3f s: %s   peak %d KiB\n", 5 * f + ins, a <= 5 * f + ins ? "met" : "NOT met", kb
  printf "                             cpu  %6.3f s  (baseline %5.3f s; new records alone %5.3f s): goal %5.3f s: %s\n", ca, cf, ci, 5 * cf + cins, ca <= 5 * cf + cins ? "met" : "NOT met" }'
awk -v f="$secFloorLog" -v n="$secNothing" -v cf="$cpuFloorLog" -v cn="$cpuNothing" 'BEGIN {
  printf "the same, nothing new:       wall %6.3f s  (baseline of that log %5.3f s)   goal <= 5 x baseline = %5.3f s: %s\n", n, f, 5 * f, n <= 5 * f ? "met" : "NOT met"
  printf "                             cpu  %6.3f s  (baseline %5.3f s)               goal %5.3f s: %s\n", cn, cf, 5 * cf, cn <= 5 * cf ? "met" : "NOT met" }'
awk -v b="$secBuild" -v f="$secFloorAll" -v kb="$kbBuild" 'BEGIN {
  printf "build all %d from scratch:   %6.1f s  (baseline %5.2f s)   goal < 60 s: %s   peak %d KiB, goal < 200 MB: %s\n", '"$weeks"', b, f, b < 60 ? "met" : "NOT met", kb, kb < 200 * 1024 ? "met" : "NOT met" }'
awk -v d="$cbDb" -v j="$cbJoined" -v s="$same" 'BEGIN {
  printf "database %.1f MB, joined log %.1f MB: %.2f x, goal < 2: %s; quenfell-db -j equals quenfell -j: %s\n", d / 1e6, j / 1e6, d / j, d < 2 * j ? "met" : "NOT met", s }'
