# Pieces the whole-program benchmark scripts share; sourced by them, not run.

# OverlappingDownloads GENLOG DIR: 8 overlapping 16 MB downloads of one car, made by genlog ten
# days apart, written to DIR; their paths go into the array `downloads`.
OverlappingDownloads() {
  local genlog=$1 dir=$2 i
  local stops=("2010-01-10" "2010-01-20" "2010-01-30" "2010-02-09" "2010-02-19" "2010-03-01" "2010-03-11"
    "2010-03-21")
  downloads=()
  for i in "${!stops[@]}"; do
    "$genlog" --seed 7 --days 420 --end "2010-06-30 08:00" --stop "${stops[$i]} 08:00" --ring 16M \
      --out "$dir/d$i.log" 2>/dev/null
    downloads+=("$dir/d$i.log")
  done
}

# LongHistories GENLOG DIR: the car's histories of the owner's figures, written to DIR: 8 weekly
# downloads of 4 MB that overlap (their paths in the array `weekly`), one log of 3 years (y3.log,
# 160 MiB ring) and one of 10 years (y10.log, 400 MiB ring).
LongHistories() {
  local genlog=$1 dir=$2 i
  weekly=()
  for i in 0 1 2 3 4 5 6 7; do
    "$genlog" --seed 5 --days 120 --end "2010-05-01 08:00" --stop "$(date -u -d "2010-03-01 + $((i * 7)) days" +%F) 08:00" \
      --ring 4M --out "$dir/w$i.log" 2>/dev/null
    weekly+=("$dir/w$i.log")
  done
  "$genlog" --seed 11 --days 1095 --end "2012-06-30 08:00" --ring 160M --out "$dir/y3.log" 2>/dev/null
  "$genlog" --seed 11 --days 3650 --end "2019-06-30 08:00" --ring 400M --longterm 256K --out "$dir/y10.log" 2>/dev/null
}

# Measure RSSFILE COMMAND...: the best wall-clock seconds of $runs runs of the command (its output
# thrown away) and the largest peak resident KiB, which /usr/bin/time writes to RSSFILE.
Measure() {
  local rss=$1 sec= kb=0 r m
  shift
  for _ in $(seq "$runs"); do
    r=$( { TIMEFORMAT='%3R'; time /usr/bin/time -f '%M' -o "$rss" "$@" >/dev/null 2>&1; } 2>&1 )
    m=$(tail -n 1 "$rss")
    sec=$(awk -v a="$sec" -v b="$r" 'BEGIN { print (a == "" || b < a) ? b : a }')
    kb=$((m > kb ? m : kb))
  done
  echo "$sec $kb"
}

# WeeklyDownloads GENLOG DIR COUNT: COUNT downloads of one car's 16 MB ring, one a week from
# 2010-03-01 on (a ring holds about five months, so each overlaps about twenty others); their
# paths go into the array `downloads`.
WeeklyDownloads() {
  local genlog=$1 dir=$2 count=$3 i stop
  downloads=()
  for ((i = 0; i < count; i++)); do
    stop="$(date -u -d "2010-03-01 +$((7 * i)) days" +%Y-%m-%d) 08:00"
    "$genlog" --seed 11 --days 900 --end "2011-12-31 08:00" --stop "$stop" --ring 16M \
      --out "$dir/w$(printf '%03d' "$i").log" 2>/dev/null
    downloads+=("$dir/w$(printf '%03d' "$i").log")
  done
}
