#!/usr/bin/env bash
# cmake --install into a fresh prefix, then the sample replay from there, run from elsewhere:
# the installed flowdeck finds its plug-ins in ../lib/flowdeck and its tripwires and settings
# in ../etc/flowdeck without being told.
# usage: install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1 source=$2
. "$(dirname "$0")/testlib.sh"

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log"; fail "install"; }
for file in bin/flowdeck lib/flowdeck/KvVantrel.so lib/flowdeck/KvCorvane.so \
    etc/flowdeck/flowdeck.conf etc/flowdeck/tripwires.cfg etc/logrotate.d/flowdeck \
    etc/flowdeck/nginx-shields-http.conf etc/flowdeck/nginx-shields-server.conf \
    etc/flowdeck/apache-shields.conf etc/flowdeck/nftables-shields.nft \
    lib/systemd/system/flowdeck.service share/doc/flowdeck/README.md share/man/man1/flowdeck.1.gz \
    share/doc/flowdeck/examples/flowdeck.conf share/doc/flowdeck/examples/tripwires.cfg \
    share/doc/flowdeck/examples/sample.log share/doc/flowdeck/examples/flowdeck.service \
    share/flowdeck/verified-bot-ranges; do
  expect_file "$prefix/$file"
done
[ -x "$prefix/bin/flowdeck" ] || fail "bin/flowdeck is not executable"
cmp -s "$source/examples/flowdeck.logrotate" "$prefix/etc/logrotate.d/flowdeck" ||
  fail "etc/logrotate.d/flowdeck is not examples/flowdeck.logrotate"

mkdir "$work/elsewhere" && cd "$work/elsewhere"
hold_port80
"$prefix/bin/flowdeck" replay --out "$work/out" \
  "$prefix/share/doc/flowdeck/examples/sample.log" >"$work/summary" 2>&1 ||
  { cat "$work/summary"; fail "the installed flowdeck's replay"; }
expect_sample_replay "$work/summary" "$work/out" exports-off
expect_text "$work/summary" "watched: 5 active tripwires from $prefix/etc/flowdeck/tripwires.cfg"

# The settings in etc/flowdeck are read by default: they switch the exports off (no companion
# program comes with flowdeck); switched on again, they are there.
echo "FernwickActive = True" >>"$prefix/etc/flowdeck/flowdeck.conf"
"$prefix/bin/flowdeck" replay --out "$work/out2" \
  "$prefix/share/doc/flowdeck/examples/sample.log" >"$work/summary2" 2>&1 ||
  { cat "$work/summary2"; fail "the second replay"; }
expect_sample_replay "$work/summary2" "$work/out2"
echo "installed into $prefix and replayed the sample from there"
