#!/usr/bin/env bash
# The car's page: quenfell-plot over the sample download, and over 8 overlapping 16 MB downloads of
# one car (made by genlog, ten days apart, as bench/join_bench.sh makes them). Reports the best time
# of three runs, the page's size and the peak memory beside the baseline process that maps the same
# files, holds them all and reads every byte once (bench/touch_pass.cpp).
# With LONG=1 also the histories of the owner's figures (bench/common.sh LongHistories): 8 weekly
# downloads, 3 years and 10 years, each with a price and its off-peak window.
# Usage: bench/plot_bench.sh [BUILD_DIR]   (default build/bench: genlog, quenfell-plot, touch_pass)
set -euo pipefail
build=${1:-build/bench}
runs=${RUNS:-3}
plot=$build/src/plot/quenfell-plot
genlog=$build/tools/genlog
touch=$build/bench/touch_pass
sample=$(dirname "$0")/../examples/200906051330.tar
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (Debian package time)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# shellcheck source=bench/common.sh
source "$(dirname "$0")/common.sh"

OverlappingDownloads "$genlog" "$work"
inputs=("${downloads[@]}")
bytes=$(cat "${inputs[@]}" | wc -c)

# The best wall-clock seconds of $runs runs and the largest peak resident KiB of a command.
measure() { Measure "$work/rss" "$@"; }
line() {
  printf "%-32s %8.3f s %8d KiB peak %s\n" "$1" "$2" "$3" "${4:-}"
}

if [ -f "$sample" ]; then
  read -r secSampleBase kbSampleBase < <(measure "$touch" --keep "$sample")
  read -r secSample kbSample < <(measure env TZ=UTC "$plot" -o "$work/sample.html" "$sample")
  printf 'car page of the sample download: %d bytes in, page %d bytes\n' "$(wc -c < "$sample")" \
    "$(wc -c < "$work/sample.html")"
  line "baseline (read all)" "$secSampleBase" "$kbSampleBase"
  line "quenfell-plot" "$secSample" "$kbSample"
fi

read -r secBase kbBase < <(measure "$touch" --keep "${inputs[@]}")
read -r secPlot kbPlot < <(measure env TZ=UTC "$plot" -o "$work/car.html" "${inputs[@]}")
printf 'car page of 8 downloads: %d MB in, page %d bytes, %s drives, %s charges\n' $((bytes / 1000000)) \
  "$(wc -c < "$work/car.html")" "$(grep -c '<tr class="drive">' "$work/car.html")" \
  "$(grep -c '<tr class="charge">' "$work/car.html")"
line "baseline (read all)" "$secBase" "$kbBase"
line "quenfell-plot" "$secPlot" "$kbPlot" "$(awk -v s="$secPlot" -v b="$secBase" 'BEGIN { if (b <= 0) b = 0.001; printf "%.1f x baseline", s / b }')"

if [ "${LONG:-0}" = 1 ]; then
  LongHistories "$genlog" "$work"
  for history in weekly y3 y10; do
    case $history in
    weekly) files=("${weekly[@]}") ;;
    *) files=("$work/$history.log") ;;
    esac
    read -r secBase kbBase < <(measure "$touch" --keep "${files[@]}")
    read -r secPlot kbPlot < <(measure env TZ=America/Los_Angeles "$plot" --price 0.30,0.12@23:00-07:00 \
      -o "$work/$history.html" "${files[@]}")
    printf 'car page of %s: %d MB in, page %d bytes, %s drives, %s charges\n' "$history" \
      $(($(cat "${files[@]}" | wc -c) / 1000000)) "$(wc -c < "$work/$history.html")" \
      "$(grep -c '<tr class="drive">' "$work/$history.html")" "$(grep -c '<tr class="charge">' "$work/$history.html")"
    line "baseline (read all)" "$secBase" "$kbBase"
    line "quenfell-plot" "$secPlot" "$kbPlot"
  done
fi
