# shellcheck shell=bash
# Shared by the install and packaging tests (sourced). A test exits 0 when it passes, 77 when it
# is skipped (saying why), anything else when it fails.

work=$(mktemp -d "${TMPDIR:-/tmp}/flowdeck-package.XXXXXX")
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "skipped: $*"; exit 77; }

expect_file() { [ -f "$1" ] || fail "missing $1"; }
expect_text() {  # FILE TEXT: FILE holds TEXT
  grep -qF -- "$2" "$1" || { cat "$1" >&2; fail "$1 does not say '$2'"; }
}

# Holds, until the test ends, the lock that every test takes to bind port 80 (flowdeck listens
# there).
hold_port80() {
  exec 9>>/tmp/flowdeck-port80.lock
  flock 9
}

# Checks what a replay of examples/sample.log left: OUTPUT (its summary) and its --out DIR. The
# scripted admin login is shielded, and with the exports on (the plug-ins' default; the
# installed settings, given "exports-off" as third argument, switch them off) rated 2 by the
# monitor.
expect_sample_replay() {
  expect_text "$1" "lines read: 5196 (5196 requests"
  expect_file "$2/KvCorvane.xml"
  expect_text "$2/KvVantrel.xml" 'REMOTEADDR="203.0.113.66"'
  if [ "${3:-}" = exports-off ]; then
    [ ! -e "$2/KvCorvaneHits.Out" ] && [ ! -e "$2/KvCorvaneAlerts.Out" ] ||
      fail "the exports are on in $2"
  else
    expect_text "$1" "level 2  203.0.113.66"
    expect_file "$2/KvCorvaneHits.Out"
  fi
}
