#!/usr/bin/env bash
# What the crawl test costs and whom it shields: the million-line sample day replayed under
# callgrind with CrawlTest = False and True (instructions of each, and the difference), then
# the real logs beside the repository with every crawl shield listed. Each replay runs in a
# network namespace of its own, so that its shield port is its own and no lock is needed
# (needs unshare -n: root, or a user namespace).
#   bench/crawl/crawl-cost.sh [BUILD_DIR]     (CRAWL_BENCH_LINES=20000 for a quick look)
set -euo pipefail
build=${1:-build}
here=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
flowdeck=$here/$build/bin/flowdeck

crawl_shields() {  # the crawl shields a run raised (none: the run wrote no event log)
  { cat "$1/flowdeck-shields.log" 2> /dev/null || true; } | grep -c ' raise crawl ' || true
}

replay() {  # replay CONFIG OUT LOG [wrapper...]
  local config=$1 out=$2 log=$3
  shift 3
  unshare -n sh -c 'ip link set lo up && exec "$@"' sh "$@" "$flowdeck" replay --quiet \
    --plugin "$here/$build/plugins" --tripwires "$here/examples/tripwires.cfg" \
    --config "$config" --out "$out" "$log" > "$out.txt" 2>&1
}

"$here/$build/bin/flowdeck-sample" --hours 24 --steady 20 --lines "${CRAWL_BENCH_LINES:-1000000}" > "$work/day.log"
declare -A instructions
for mode in False True; do
  printf 'CrawlTest = %s\n' "$mode" > "$work/$mode.conf"
  replay "$work/$mode.conf" "$work/$mode" "$work/day.log" \
    valgrind --tool=callgrind --callgrind-out-file="$work/callgrind.$mode"
  instructions[$mode]=$(callgrind_annotate "$work/callgrind.$mode" 2> /dev/null | awk '/PROGRAM TOTALS/ { gsub(",", "", $1); print $1 }')
  printf 'CrawlTest = %-5s %s instructions, %s crawl shields\n' "$mode" "${instructions[$mode]}" \
    "$(crawl_shields "$work/$mode")"
done
awk -v off="${instructions[False]}" -v on="${instructions[True]}" \
  'BEGIN { printf "the crawl test adds %.2f %%\n", (on - off) * 100 / off }'

printf 'CrawlTest = True\n' > "$work/real.conf"
for log in "$here"/../shared/data/access-logs/*.log; do
  [ -f "$log" ] || continue
  replay "$work/real.conf" "$work/real" "$log"
  printf '%-40s %s crawl shields\n' "$(basename "$log")" "$(crawl_shields "$work/real")"
  grep -h ' raise crawl ' "$work/real/flowdeck-shields.log" 2> /dev/null | sed 's/^/    /' || true
done
