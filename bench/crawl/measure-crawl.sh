#!/usr/bin/env bash
# Who the crawl test shields, at the defaults, on generated traffic: crawlers reading distinct
# pages on fixed, jittered and randomized delays (some fetching assets too), Googlebots from
# addresses that verify and from addresses that do not, feed readers, uptime checks and people,
# over several seeds; then every crawl shield of the real logs beside the repository, with the
# visitor's address, user agent and what it looks like.
#   bench/crawl/measure-crawl.sh [BUILD_DIR]
# Per kind it prints how many visitors were caught (a "raise crawl" line in flowdeck-shields.log)
# and, for each caught one, its page requests up to the second of its shield, counted in the log
# as the crawl test counts them (no asset by extension, no redirect).
set -euo pipefail
build=${1:-build}
here=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
dns_pid=
cleanup() {
  if [ -n "$dns_pid" ]; then kill "$dns_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

verified=10  # Googlebots that verify, 66.249.70.1 to .10
false_bots=10

# A dnsmasq of this script's own on a free port of 127.0.0.1, answering only for the generated
# Googlebots: the verified ones' reverse names lie in googlebot.com and give their address back,
# the false ones' lie elsewhere. Sets dns_port, or leaves it empty when dnsmasq is not there.
dns_port=
start_dns() {
  local dnsmasq=/usr/sbin/dnsmasq records=() n
  [ -x "$dnsmasq" ] || { echo "dnsmasq is missing: no verified Googlebots" >&2; return; }
  for n in $(seq 1 "$verified"); do
    records+=("--ptr-record=$n.70.249.66.in-addr.arpa,crawl-66-249-70-$n.googlebot.com"
      "--host-record=crawl-66-249-70-$n.googlebot.com,66.249.70.$n")
  done
  for n in $(seq 1 "$false_bots"); do
    records+=("--ptr-record=$n.0.21.172.in-addr.arpa,host-$n.example.net"
      "--host-record=host-$n.example.net,172.21.0.$n")
  done
  local user=()
  [ "$(id -u)" = 0 ] && user=(--user=root)
  for _ in 1 2 3 4 5; do
    dns_port=$((20000 + RANDOM % 30000))
    "$dnsmasq" --keep-in-foreground --conf-file=/dev/null --no-resolv --no-hosts \
      --port="$dns_port" --listen-address=127.0.0.1 --bind-interfaces --pid-file= "${user[@]}" \
      "${records[@]}" 2>"$work/dnsmasq.err" &
    dns_pid=$!
    sleep 0.5
    kill -0 "$dns_pid" 2>/dev/null && return
    dns_pid=
  done
  dns_port=
  echo "dnsmasq did not start: $(cat "$work/dnsmasq.err")" >&2
}

# Replays a log into DIR with the crawl test at its defaults; times in UTC, as the logs have them.
replay() {
  local log=$1 out=$2
  : >"$work/flowdeck.conf"
  [ -n "$dns_port" ] && echo "Resolver = 127.0.0.1:$dns_port" >"$work/flowdeck.conf"
  rm -rf "$out"
  # The shield plug-in reaches flowdeck on port 80: take the turn the tests take.
  TZ=UTC flock /tmp/flowdeck-port80.lock "$here/$build/bin/flowdeck" replay --quiet \
    --config "$work/flowdeck.conf" --out "$out" "$log" >"$out.summary" 2>&1 ||
    { echo "replay of $log failed:" >&2; tail -5 "$out.summary" >&2; exit 1; }
  touch "$out/flowdeck-shields.log"
}

# The awk functions both reports share: seconds since 1970 of an RFC 3339 time or of a log's
# bracketed time, the address, path, status and agent of a log line, and whether it is a page.
common_awk='
function days(y, m, d) {  # days since 1970-01-01 of a civil date
  y -= m <= 2; era = int(y / 400); yoe = y - era * 400
  doy = int((153 * (m + (m > 2 ? -3 : 9)) + 2) / 5) + d - 1
  return era * 146097 + yoe * 365 + int(yoe / 4) - int(yoe / 100) + doy - 719468
}
function rfc3339(t,   s, off) {  # 2026-12-07T08:01:02+00:00 (fractions ignored)
  s = days(substr(t, 1, 4) + 0, substr(t, 6, 2) + 0, substr(t, 9, 2) + 0) * 86400
  s += substr(t, 12, 2) * 3600 + substr(t, 15, 2) * 60 + substr(t, 18, 2)
  off = substr(t, length(t) - 5)
  if (off ~ /^[+-][0-9][0-9]:[0-9][0-9]$/)
    s -= (substr(off, 1, 1) == "-" ? -1 : 1) * (substr(off, 2, 2) * 3600 + substr(off, 5, 2) * 60)
  return s
}
function logtime(t, zone,   s) {  # [07/Dec/2026:08:00:00 and +0000]
  s = days(substr(t, 9, 4) + 0, (index("JanFebMarAprMayJunJulAugSepOctNovDec", substr(t, 5, 3)) + 2) / 3,
           substr(t, 2, 2) + 0) * 86400
  s += substr(t, 14, 2) * 3600 + substr(t, 17, 2) * 60 + substr(t, 20, 2)
  return s - (substr(zone, 1, 1) == "-" ? -1 : 1) * (substr(zone, 2, 2) * 3600 + substr(zone, 4, 2) * 60)
}
# Sets addr, when, path, status, agent of the current line; false when it is no request line.
function parse(   i, q, n, r) {
  for (i = 1; i <= NF && substr($i, 1, 1) != "["; i++) {}
  if (i > NF || i < 4) return 0
  addr = $(i - 3); when = logtime($i, $(i + 1))
  n = split($0, q, "\"")
  if (n < 3) return 0
  split(q[2], r, " "); path = r[2]; sub(/[?#].*/, "", path)
  split(q[3], r, " "); status = r[1]
  agent = n >= 7 ? q[6] : "-"
  return 1
}
function page() {
  return status !~ /^3/ &&
    tolower(path) !~ /[.](css|js|mjs|map|png|jpe?g|gif|webp|avif|svg|ico|bmp|tiff?|woff2?|ttf|otf|eot|mp4|webm|ogg|ogv|mp3|wav|flac|m4a|mov|avi)$/
}
'

# Per kind of generated visitor: caught, and the page requests before each shield.
report_kinds() {
  local shields=$1 log=$2
  awk "$common_awk"'
    function kind(a,   b) {
      split(a, b, ".")
      if (b[1] == 172 && b[2] >= 16 && b[2] <= 18) {
        k = b[2] == 16 ? "fixed-delay crawler" : b[2] == 17 ? "jittered-delay crawler" : "randomized-delay crawler"
        return k (b[3] >= 128 ? ", assets" : "")
      }
      if (a ~ /^172[.]19[.]/) return "feed reader"
      if (a ~ /^172[.]20[.]/) return "uptime check"
      if (a ~ /^172[.]21[.]/) return "Googlebot, not verifying"
      if (a ~ /^66[.]249[.]70[.]/) return "Googlebot, verifying"
      if (b[1] == 100 && b[2] >= 64 && b[2] < 128) return "person"
      return "others (steady clients, scanners)"
    }
    FNR == 1 { file = FILENAME == ARGV[1] ? 1 : 2 }
    file == 1 && $2 == "raise" && $3 == "crawl" && !($4 in shieldAt) {
      shieldAt[$4] = rfc3339($1)
      if (match($0, /[(]pages [0-9]+/)) figure[$4] = substr($0, RSTART + 7, RLENGTH - 7)
    }
    file == 1 && $2 == "raise" && $3 != "crawl" { otherShield[$4] = 1 }
    file == 1 && $2 == "spare" && $3 == "crawl" { spared[$4] = 1 }
    file == 2 && parse() {
      if (!(addr in seen)) { seen[addr] = 1; members[kind(addr)]++ }
      if (page()) {
        pages[addr]++
        if ((addr in shieldAt) && when <= shieldAt[addr]) before[addr]++
      }
    }
    END {
      for (a in shieldAt) {
        k = kind(a); caught[k]++; counts[k] = counts[k] " " before[a] + 0
        if (before[a] > 40) late[k]++
        if (a in figure) {
          if (!(k in lowFigure) || figure[a] + 0 < lowFigure[k]) lowFigure[k] = figure[a] + 0
          if (figure[a] + 0 > highFigure[k]) highFigure[k] = figure[a] + 0
        }
      }
      for (a in spared) spares[kind(a)]++
      for (a in otherShield) others[kind(a)]++
      for (k in members) {
        line = sprintf("  %-34s caught %4d of %4d", k, caught[k], members[k])
        if (k in spares) line = line sprintf(", spared %d", spares[k])
        if (caught[k] > 0) {
          n = split(substr(counts[k], 2), v, " ")
          for (i = 2; i <= n; i++) for (j = i; j > 1 && v[j - 1] + 0 > v[j] + 0; j--) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
          line = line sprintf(", page requests to the shield min %d median %d max %d, over 40: %d",
                              v[1], v[int((n + 1) / 2)], v[n], late[k])
          if (k in lowFigure) line = line sprintf(" (raise lines: pages %d to %d)", lowFigure[k], highFigure[k])
        }
        if (k in others) line = line sprintf(", shielded by another test: %d", others[k])
        print line
      }
    }' "$shields" "$log" | sort
}

# Every crawl shield of a log: the visitor, its agent, what it asked for, and what it looks like.
report_shields() {
  local shields=$1 log=$2
  awk "$common_awk"'
    FNR == 1 { file = FILENAME == ARGV[1] ? 1 : 2 }
    file == 1 && $2 == "raise" && $3 == "crawl" && !($4 in raised) {
      raised[$4] = $0; order[++shields] = $4
    }
    file == 2 && parse() && (addr in raised) {
      requests[addr]++
      if (!(addr in agents)) agents[addr] = agent
      if (page()) { pages[addr]++; if (!((addr, path) in distinct)) { distinct[addr, path] = 1; kinds[addr]++ } }
      else if (status !~ /^3/) assets[addr]++
      if (path == "/robots.txt") robots[addr] = 1
    }
    END {
      for (i = 1; i <= shields; i++) {
        a = order[i]; ua = agents[a]
        if (tolower(ua) ~ /bot|crawl|spider|slurp|feed|rss|python|curl|wget|java|go-http|libwww|scrapy|http.?client|okhttp|headless|perl|ruby|php/)
          looks = "a robot by its agent"
        else if (ua == "-" || ua == "") looks = "no agent: a script or an old client"
        else if (assets[a] + 0 == 0) looks = "a browser agent that fetches no assets: a robot posing as a browser"
        else looks = "a browser agent with assets: a person, or a headless browser (check by hand)"
        if (a in robots) looks = looks "; asked for robots.txt"
        printf "    %s\n      agent \"%s\"\n      %d requests, %d pages (%d distinct), %d assets: %s\n      %s\n",
               a, ua, requests[a], pages[a], kinds[a], assets[a], looks, raised[a]
      }
      if (shields == 0) print "    no crawl shield"
    }' "$shields" "$log"
}

start_dns
echo "The goal: every crawler caught within 40 page requests (counted up to the second of its shield),"
echo "no person, feed reader, uptime check or verifying Googlebot caught (a verified one spared at most)."
kinds=(--crawlers 0 --scanners 0 --no-probe --fixed-crawlers 20 --jitter-crawlers 20
  --random-crawlers 20 --crawler-pages 120 --feed-readers 20 --uptime-checks 20
  --verified-bots "$verified" --false-bots "$false_bots")
for seed in 1 2 3 4 5; do
  "$here/$build/bin/flowdeck-sample" --seed "$seed" --hours 6 --humans 300 "${kinds[@]}" >"$work/log"
  replay "$work/log" "$work/out"
  echo "seed $seed (6 hours, 300 people):"
  report_kinds "$work/out/flowdeck-shields.log" "$work/log"
done
"$here/$build/bin/flowdeck-sample" --seed 9 --hours 24 --humans 3000 --steady 20 "${kinds[@]}" >"$work/log"
replay "$work/log" "$work/out"
echo "seed 9 (a day, 3000 people, 20 steady clients):"
report_kinds "$work/out/flowdeck-shields.log" "$work/log"

# The bundled sample and the real logs beside the repository, when they are there.
for log in "$here/examples/sample.log" "$here"/../shared/data/access-logs/*.log; do
  [ -f "$log" ] || continue
  replay "$log" "$work/real"
  echo "$(basename "$log"):"
  report_shields "$work/real/flowdeck-shields.log" "$log"
done
