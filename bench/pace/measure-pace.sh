#!/usr/bin/env bash
# Who the pace test shields, at the defaults, on generated traffic: clients whose delay is drawn
# from a range around a period of 2 to 30 s (several seeds and jitters), people reloading one
# page by hand, and the sample's people, crawlers and scanners. Prints one line per traffic.
#   bench/pace/measure-pace.sh [BUILD_DIR]
set -euo pipefail
build=${1:-build}
here=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Counts the shields of one replay by who got them: random clients 198.18.*, hand reloaders
# 198.19.*, steady clients and the probe 203.0.113.*, everybody else.
count() {
  [ -f "$1/flowdeck-shields.log" ] || { echo "none"; return; }
  awk 'function who(a) {
         if (a ~ /^198[.]18[.]/) return "random"
         if (a ~ /^198[.]19[.]/) return "reloader"
         if (a ~ /^203[.]0[.]113[.]/) return "steady"
         return "other"
       }
       $2 == "raise" { n[$3 "/" who($4)]++ }
       END { for (k in n) printf "%s=%d ", k, n[k]; print "" }' "$1/flowdeck-shields.log"
}

run() {
  local name=$1; shift
  "$here/$build/bin/flowdeck-sample" "$@" > "$work/log"
  # The shield plug-in reaches flowdeck on port 80: take the turn the tests take.
  flock /tmp/flowdeck-port80.lock "$here/$build/bin/flowdeck" replay --quiet --out "$work/out" "$work/log" > /dev/null
  printf '%-40s %s\n' "$name" "$(count "$work/out")"
}

for seed in 1 2 3 4 5; do
  run "random 0.5-1.5, 10 clients, seed $seed" --seed "$seed" --random 10 --no-probe
done
for jitter in 0.2 0.3 0.5; do
  run "random +-$jitter, 20 clients" --seed 9 --random 20 --jitter "$jitter" --no-probe
done
for seed in 1 2 3 4 5; do
  run "hand reloaders, 100, seed $seed" --seed "$seed" --refreshers 100 --no-probe
done
run "people, crawler, scanner, probe (1 day)" --hours 24 --humans 2000 --steady 20

# The real logs beside the repository, when they are there: every shield, with its visitor.
logs="$here/../shared/data/access-logs"
for log in "$logs"/*.log; do
  [ -f "$log" ] || continue
  flock /tmp/flowdeck-port80.lock "$here/$build/bin/flowdeck" replay --quiet --out "$work/real" "$log" > /dev/null
  printf '%-40s %s\n' "$(basename "$log")" "$(count "$work/real")"
  [ -f "$work/real/flowdeck-shields.log" ] && grep ' raise ' "$work/real/flowdeck-shields.log" | sed 's/^/    /'
done

