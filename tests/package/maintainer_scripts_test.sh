#!/usr/bin/env bash
# The package's maintainer scripts, run as dpkg runs them but in a mount namespace whose /etc is
# a copy and whose /var/lib and /run are empty, so that the machine's users and services are
# untouched: configure creates the flowdeck system user, its state directory, the web server's
# maps directory in it and the empty maps, a second configure (an upgrade) changes nothing and
# follows no link, purge takes the state away.
# usage: maintainer_scripts_test.sh ROOT
set -euo pipefail
root=$1
. "$(dirname "$0")/testlib.sh"
[ "$(id -u)" = 0 ] || skip "the maintainer scripts need root"
unshare --mount true 2>/dev/null || skip "no mount namespace here (unshare --mount)"
command -v adduser >/dev/null || skip "adduser is not installed"

cp -a /etc "$work/etc"
mkdir "$work/var-lib" "$work/run"
export DEBIAN="$root/DEBIAN"
unshare --mount bash -euo pipefail -c '
  mount --make-rprivate /
  mount --bind "$1/etc" /etc
  mount --bind "$1/var-lib" /var/lib
  mount --bind "$1/run" /run
  fail() { echo "FAIL: $*" >&2; exit 1; }
  "$DEBIAN/postinst" configure ""
  "$DEBIAN/postinst" configure 0.0.1
  IFS=: read -r name _ uid _ _ home shell < <(getent passwd flowdeck) || fail "no flowdeck user"
  [ "$uid" -lt 1000 ] || fail "flowdeck is not a system user (uid $uid)"
  [ "$home" = /var/lib/flowdeck ] || fail "home $home"
  [ "$shell" = /usr/sbin/nologin ] || fail "shell $shell"
  getent group flowdeck >/dev/null || fail "no flowdeck group"
  [ "$(stat -c "%U:%G %a" /var/lib/flowdeck)" = "flowdeck:flowdeck 751" ] ||
    fail "/var/lib/flowdeck is $(stat -c "%U:%G %a" /var/lib/flowdeck)"
  # The maps the web server reads as www-data: it may pass through /var/lib/flowdeck to them.
  [ "$(stat -c "%F %U:%G %a" /var/lib/flowdeck/maps)" = "directory flowdeck:flowdeck 755" ] ||
    fail "/var/lib/flowdeck/maps is $(stat -c "%F %U:%G %a" /var/lib/flowdeck/maps)"
  echo "configure: user flowdeck (uid $uid), /var/lib/flowdeck flowdeck:flowdeck 751," \
    "maps/ flowdeck:flowdeck 755"
  # The maps the snippets include, there before flowdeck first runs: empty, readable by the
  # web server, writable by flowdeck.
  for map in nginx-shields.map nginx-address-shields.map apache-shields.map \
      apache-address-shields.map; do
    [ "$(stat -c "%F %s %U:%G %a" /var/lib/flowdeck/maps/$map)" = \
      "regular empty file 0 flowdeck:flowdeck 644" ] ||
      fail "maps/$map is $(stat -c "%F %s %U:%G %a" /var/lib/flowdeck/maps/$map)"
  done
  # An upgrade keeps the shields flowdeck wrote, and a link put in a map'"'"'s place is neither
  # followed nor replaced.
  echo "192.0.2.1 example.org /login /sorry;" >/var/lib/flowdeck/maps/nginx-shields.map
  rm /var/lib/flowdeck/maps/apache-shields.map
  ln -s /var/lib/victim-map /var/lib/flowdeck/maps/apache-shields.map
  "$DEBIAN/postinst" configure 0.0.1
  [ -s /var/lib/flowdeck/maps/nginx-shields.map ] || fail "configure emptied the nginx map"
  [ ! -e /var/lib/victim-map ] || fail "configure followed a link at maps/apache-shields.map"
  [ -L /var/lib/flowdeck/maps/apache-shields.map ] || fail "configure replaced the link at a map"
  rm /var/lib/flowdeck/maps/apache-shields.map
  echo "configure: empty maps flowdeck:flowdeck 644; an upgrade keeps them and follows no link"
  # An upgrade leaves maps/ as it finds it: a link put there is not followed to chown or chmod
  # what it leads to.
  mkdir -m 0700 /var/lib/victim
  rm -r /var/lib/flowdeck/maps
  ln -s /var/lib/victim /var/lib/flowdeck/maps
  "$DEBIAN/postinst" configure 0.0.2
  [ "$(stat -c "%U:%G %a" /var/lib/victim)" = "root:root 700" ] ||
    fail "configure followed maps/ to $(stat -c "%U:%G %a" /var/lib/victim)"
  [ -L /var/lib/flowdeck/maps ] || fail "configure replaced the link at maps/"
  rm /var/lib/flowdeck/maps
  "$DEBIAN/postinst" configure 0.0.2
  [ -d /var/lib/flowdeck/maps ] || fail "configure did not make maps/ again"
  [ -f /var/lib/flowdeck/maps/apache-shields.map ] || fail "configure did not make the maps again"
  echo "upgrade: a link at maps/ is left alone, a missing maps/ is made again"
  touch /var/lib/flowdeck/KvVantrel.xml
  "$DEBIAN/prerm" remove
  "$DEBIAN/postrm" remove
  [ -f /var/lib/flowdeck/KvVantrel.xml ] || fail "remove took the state away"
  "$DEBIAN/postrm" purge
  [ ! -e /var/lib/flowdeck ] || fail "purge left /var/lib/flowdeck"
  echo "remove kept the state, purge removed it"
' maintainer-scripts "$work"
