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
systemd-analyze verify --root="$work/root" flowdeck.service >"$work/verify" 2>&1 ||
  { cat "$work/verify"; fail "systemd-analyze verify flowdeck.service"; }
! grep . "$work/verify" || fail "systemd-analyze verify complains"
echo "systemd-analyze verify: flowdeck.service as packaged passes"
