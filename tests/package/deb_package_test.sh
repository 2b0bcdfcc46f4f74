#!/usr/bin/env bash
# `cpack -G DEB` in the build folder leaves one package there, laid out under /usr with its
# settings under /etc as conffiles, depending on the libraries the programs link and on
# adduser; it is unpacked into ROOT for the tests that run what it holds.
# usage: deb_package_test.sh BUILD_DIR ROOT
set -euo pipefail
build=$1 root=$2
. "$(dirname "$0")/testlib.sh"
for tool in dpkg-deb dpkg-shlibdeps file; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/test-deps installs it)"
done

rm -f "$build"/flowdeck_*.deb
(cd "$build" && cpack -G DEB) >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack -G DEB"; }
debs=("$build"/*.deb)
[ ${#debs[@]} = 1 ] && [ -f "${debs[0]}" ] || fail "expected one .deb in $build, found: ${debs[*]}"
deb=${debs[0]}
echo "built $deb ($(stat -c %s "$deb") bytes)"

# Where each file lands, owned by root.
dpkg-deb -c "$deb" >"$work/contents"
for path in ./usr/bin/flowdeck ./usr/lib/flowdeck/KvVantrel.so ./usr/lib/flowdeck/KvCorvane.so \
    ./etc/flowdeck/flowdeck.conf ./etc/flowdeck/tripwires.cfg ./etc/logrotate.d/flowdeck \
    ./etc/flowdeck/nginx-shields-http.conf ./etc/flowdeck/nginx-shields-server.conf \
    ./etc/flowdeck/apache-shields.conf ./etc/flowdeck/nftables-shields.nft \
    ./usr/share/man/man1/flowdeck.1.gz ./usr/share/doc/flowdeck/copyright \
    ./usr/share/doc/flowdeck/changelog.Debian.gz \
    ./usr/lib/systemd/system/flowdeck.service ./usr/share/doc/flowdeck/README.md \
    ./usr/share/doc/flowdeck/examples/flowdeck.conf ./usr/share/doc/flowdeck/examples/tripwires.cfg \
    ./usr/share/doc/flowdeck/examples/sample.log ./usr/share/flowdeck/verified-bot-ranges; do
  grep -q " $path\$" "$work/contents" || { cat "$work/contents"; fail "the package lacks $path"; }
done
! grep -v ' root/root ' "$work/contents" || fail "files not owned by root"
! grep -vE ' \./((usr|etc)/.*)?$' "$work/contents" || fail "files outside /usr and /etc"

# Control: the conffiles, the maintainer scripts and the dependencies.
dpkg-deb -e "$deb" "$work/control"
sort "$work/control/conffiles" >"$work/conffiles"
printf '/etc/flowdeck/%s\n' flowdeck.conf tripwires.cfg nginx-shields-http.conf \
  nginx-shields-server.conf apache-shields.conf nftables-shields.nft |
  cat - <(echo /etc/logrotate.d/flowdeck) | sort | cmp -s - "$work/conffiles" || { cat "$work/conffiles"; fail "conffiles"; }
for script in postinst prerm postrm; do
  [ -x "$work/control/$script" ] || fail "no executable $script"
done
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
rm -rf "$root" && mkdir -p "$root"
dpkg-deb -x "$deb" "$root"
# Each library a program links needs its package among the dependencies (dpkg-shlibdeps).
package_of() {
  case $1 in
    libc.so.* | libm.so.* | ld-linux*.so.*) echo libc6 ;;
    libstdc++.so.*) echo libstdc++6 ;;
    libgcc_s.so.*) echo libgcc-s1 ;;
    libz.so.*) echo zlib1g ;;
    libxml2.so.*) echo libxml2 ;;
    libsimdjson.so.*) echo libsimdjson ;;
    libcares.so.*) echo libc-ares2 ;;
    *) fail "a program links $1: add its package to this test" ;;
  esac
}
for program in "$root/usr/bin/flowdeck" "$root"/usr/lib/flowdeck/*.so; do
  for library in $(objdump -p "$program" | awk '$1 == "NEEDED" { print $2 }'); do
    package=$(package_of "$library")
    [[ ", $depends" == *", $package"* ]] || fail "Depends lacks $package for $library"
  done
done
[[ ", $depends" == *", adduser"* ]] || fail "Depends lacks adduser"
# The maps go where the web server may read them and nothing else of flowdeck's: the settings
# and snippets name /var/lib/flowdeck/maps, the unit lets others pass through to it.
for file in etc/flowdeck/flowdeck.conf etc/flowdeck/nginx-shields-http.conf \
    etc/flowdeck/apache-shields.conf usr/share/doc/flowdeck/examples/nginx-shields-http.conf \
    usr/share/doc/flowdeck/examples/apache-shields.conf \
    usr/lib/systemd/system/flowdeck-nginx-reload.path; do
  expect_text "$root/$file" /var/lib/flowdeck/maps/
  ! grep -E '/var/lib/flowdeck/[a-z-]+-shields\.map' "$root/$file" || fail "$file names a map outside maps/"
done
expect_text "$root/usr/lib/systemd/system/flowdeck.service" StateDirectoryMode=0751
# Every file of /etc/flowdeck that the snippets' and the units' comments tell the operator to
# include or load is where they say.
named=$(cat "$root"/etc/flowdeck/* "$root"/usr/lib/systemd/system/flowdeck* |
  grep -o '/etc/flowdeck/[A-Za-z0-9._-]*[A-Za-z0-9]' | sort -u)
[ -n "$named" ] || fail "no comment names a file in /etc/flowdeck"
for file in $named; do
  [ -f "$root$file" ] || fail "a comment names $file, which the package does not install"
done
cp -r "$work/control" "$root/DEBIAN"
echo "unpacked into $root"
