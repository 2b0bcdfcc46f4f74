#!/usr/bin/env bash
# systemd-analyze verify on flowdeck.service where the package puts it, in a root that holds the
# unpacked package beside this system's own units (so that the programs the unit runs are
# checked where it says they are).
# usage: unit_verify_test.sh ROOT
set -euo pipefail
root=$1
. "$(dirname "$0")/testlib.sh"
command -v systemd-analyze >/dev/null || skip "systemd-analyze is not installed (scripts/test-deps installs systemd)"

units=/usr/lib/systemd/system
[ -d "$units" ] || units=/lib/systemd/system
cp -a "$root" "$work/root"
cp -an "$units"/. "$work/root/usr/lib/systemd/system/"
ln -s usr/bin "$work/root/bin"
cp "$(type -P kill)" "$work/root/usr/bin/kill"
# The reload units run nginx, which the package only suggests: a stand-in where it is missing.
mkdir -p "$work/root/usr/sbin"
if [ -x /usr/sbin/nginx ]; then cp /usr/sbin/nginx "$work/root/usr/sbin/"; else cp "$(type -P true)" "$work/root/usr/sbin/nginx"; fi
units_to_verify=(flowdeck.service flowdeck-nginx-reload.path flowdeck-nginx-reload.service)
systemd-analyze verify --root="$work/root" "${units_to_verify[@]}" >"$work/verify" 2>&1 ||
  { cat "$work/verify"; fail "systemd-analyze verify ${units_to_verify[*]}"; }
! grep . "$work/verify" || fail "systemd-analyze verify complains"
echo "systemd-analyze verify: ${units_to_verify[*]} as packaged pass"
