#!/usr/bin/env bash
# The logrotate file of the package: logrotate reads it and finds every growing file of the
# state directory; and, pointed at a run directory of its own, it rotates them by renaming in
# the middle of a follow without losing a line or writing one twice.
# usage: logrotate_test.sh SOURCE_DIR FLOWDECK PLUGIN_DIR
set -euo pipefail
source=$1 flowdeck=$2 plugins=$3
. "$(dirname "$0")/testlib.sh"
command -v logrotate >/dev/null || skip "logrotate is not installed (scripts/test-deps installs it)"

# The user the rotation runs as exists only where the package is installed: run as this one.
as_me() { sed "s/^\(\s*\)su flowdeck flowdeck$/\1su $(id -un) $(id -gn)/" "$@"; }

# 1. The file as shipped.
as_me "$source/examples/flowdeck.logrotate" >"$work/shipped"
logrotate -d -s "$work/status" "$work/shipped" >"$work/debug" 2>&1 || { cat "$work/debug"; fail "logrotate -d"; }
! grep -i '^error' "$work/debug" || fail "logrotate -d reports errors"
grep -qE "^\s*copytruncate" "$work/shipped" && fail "copytruncate: the plug-ins reopen their files"
for file in KvCorvaneHits.Out KvCorvaneAlerts.Out KvCorvaneTrace.LOG KvCorvaneErrors.LOG \
    KvVantrelTrace.LOG KvVantrelErrors.LOG flowdeck-shields.log; do
  expect_text "$work/debug" "considering log /var/lib/flowdeck/$file"
done

# 2. Rotated mid-run: requests /page/1 to /page/40 before, /page/41 to /page/80 after.
state=$work/state
mkdir "$state"
sed "s|/var/lib/flowdeck/|$state/|" "$work/shipped" >"$work/rotate"
printf 'Trace = True\n' >"$work/flowdeck.conf"
: >"$work/access.log"
requests() {  # FIRST LAST: one request a line, the page numbered
  for ((page = $1; page <= $2; ++page)); do
    printf '198.51.100.%d - - [%s] "GET /page/%d HTTP/1.1" 200 512 "-" "rotation-test"\n' \
      $((page % 7 + 1)) "$(date '+%d/%b/%Y:%H:%M:%S %z')" "$page"
  done >>"$work/access.log"
}
hits() { cat "$state"/KvCorvaneHits.Out* 2>/dev/null | grep -c '\^/page/' || true; }
wait_for_hits() {  # COUNT
  for ((tenths = 0; tenths < 300; ++tenths)); do
    [ "$(hits)" -ge "$1" ] && return 0
    sleep 0.1
  done
  fail "the export holds $(hits) of $1 requests after 30 s"
}

hold_port80
"$flowdeck" follow --quiet --from-start --cycle 1 --config "$work/flowdeck.conf" \
  --plugin "$plugins" --tripwires "$source/examples/tripwires.cfg" --out "$state" \
  "$work/access.log" >"$work/follow.log" 2>&1 &
follower=$!
requests 1 40
wait_for_hits 40
logrotate -f -s "$work/status" "$work/rotate" >"$work/rotate.log" 2>&1 ||
  { cat "$work/rotate.log"; fail "logrotate"; }
for file in KvCorvaneHits.Out KvCorvaneTrace.LOG KvVantrelTrace.LOG; do
  expect_file "$state/$file.1"
done
requests 41 80
wait_for_hits 80
kill -TERM "$follower"
wait "$follower" || { cat "$work/follow.log"; fail "follow did not end cleanly"; }

expect_file "$state/KvCorvaneHits.Out"
for ((page = 1; page <= 80; ++page)); do
  count=$(cat "$state/KvCorvaneHits.Out.1" "$state/KvCorvaneHits.Out" | grep -c "\^/page/$page\^" || true)
  [ "$count" = 1 ] || fail "/page/$page is exported $count times across the rotation"
done
[ "$(grep -c '\^/page/' "$state/KvCorvaneHits.Out.1")" = 40 ] || fail "the rotated export is not the first 40"
expect_file "$state/KvCorvaneTrace.LOG"
echo "rotated mid-run: 80 requests exported once each across KvCorvaneHits.Out.1 and KvCorvaneHits.Out"
