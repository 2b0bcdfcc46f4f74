#!/usr/bin/env bash
# The package as an operator installs it, before flowdeck first runs: its files in /etc, its
# postinst run, in a mount namespace whose /etc is a copy and whose /var/lib and /run are empty.
# An nginx configuration of the test's own that includes the snippets from /etc/flowdeck, as
# their comments say, passes "nginx -t" with the map paths as installed; without the map the
# package made, it would not.
# usage: deb_nginx_test.sh ROOT
set -euo pipefail
root=$1
. "$(dirname "$0")/testlib.sh"
[ "$(id -u)" = 0 ] || skip "the maintainer scripts need root"
unshare --mount true 2>/dev/null || skip "no mount namespace here (unshare --mount)"
command -v adduser >/dev/null || skip "adduser is not installed"
nginx=$(type -P nginx || echo /usr/sbin/nginx)
[ -x "$nginx" ] || skip "nginx is not installed (scripts/test-deps installs it)"

cp -a /etc "$work/etc"
cp -a "$root/etc/." "$work/etc/"
mkdir "$work/var-lib" "$work/run" "$work/nginx"
# The snippets where the package put them, the map's path exactly as they name it; nginx's own
# files in the test's directory (NGINX in the environment would mean inherited sockets to it).
cat >"$work/nginx/nginx.conf" <<EOF
pid $work/nginx/nginx.pid;
error_log stderr;
events {}
http {
    access_log off;
    client_body_temp_path $work/nginx/body;
    proxy_temp_path $work/nginx/proxy;
    fastcgi_temp_path $work/nginx/fastcgi;
    uwsgi_temp_path $work/nginx/uwsgi;
    scgi_temp_path $work/nginx/scgi;
    include /etc/flowdeck/nginx-shields-http.conf;
    server {
        listen 127.0.0.1:8080;
        include /etc/flowdeck/nginx-shields-server.conf;
    }
}
EOF
export DEBIAN="$root/DEBIAN" NGINX_PROGRAM="$nginx"
unshare --mount bash -euo pipefail -c '
  mount --make-rprivate /
  mount --bind "$1/etc" /etc
  mount --bind "$1/var-lib" /var/lib
  mount --bind "$1/run" /run
  fail() { echo "FAIL: $*" >&2; exit 1; }
  nginx_test() { "$NGINX_PROGRAM" -e stderr -p "$1/nginx" -c "$1/nginx/nginx.conf" -t >"$1/nginx/test" 2>&1; }
  "$DEBIAN/postinst" configure ""
  for map in nginx-shields.map nginx-address-shields.map; do
    [ -f /var/lib/flowdeck/maps/$map ] && [ ! -s /var/lib/flowdeck/maps/$map ] ||
      fail "no empty map at /var/lib/flowdeck/maps/$map"
  done
  nginx_test "$1" || { cat "$1/nginx/test" >&2; fail "nginx -t with the installed snippets"; }
  echo "nginx -t passes with /etc/flowdeck/nginx-shields-*.conf before flowdeck first ran"
  # The test reads each map where the package made it: without it, nginx refuses.
  for map in nginx-shields.map nginx-address-shields.map; do
    mv /var/lib/flowdeck/maps/$map "$1/$map"
    ! nginx_test "$1" || fail "nginx -t passed without $map: the snippets were not read"
    grep -q "/var/lib/flowdeck/maps/$map" "$1/nginx/test" ||
      { cat "$1/nginx/test" >&2; fail "nginx names no $map"; }
    echo "without $map it fails: $(grep -m1 "$map" "$1/nginx/test")"
    mv "$1/$map" /var/lib/flowdeck/maps/$map
  done
' deb-nginx "$work"
