#!/usr/bin/env bash
# The sample replay from the unpacked package: its flowdeck finds its plug-ins in
# usr/lib/flowdeck and its tripwires and settings in etc/flowdeck of the same root.
# usage: deb_replay_test.sh ROOT
set -euo pipefail
root=$1
. "$(dirname "$0")/testlib.sh"

cd "$work"
hold_port80
"$root/usr/bin/flowdeck" replay --out "$work/out" --report "$work/out/report.html" \
  "$root/usr/share/doc/flowdeck/examples/sample.log" >"$work/summary" 2>&1 ||
  { cat "$work/summary"; fail "the packaged flowdeck's replay"; }
# The packaged settings leave the exports off.
expect_sample_replay "$work/summary" "$work/out" exports-off
expect_text "$work/summary" "watched: 5 active tripwires from $root/etc/flowdeck/tripwires.cfg"
expect_file "$work/out/report.html"
echo "replayed the sample with the package unpacked in $root"
