#!/usr/bin/env bash
# What a Debian user checks before trusting a package: lintian has nothing to say about the
# .deb that package_deb built (no error, no warning), and its manual page documents every
# command, every option the commands' --help lists, every setting flowdeck knows and every file
# it writes in a run directory.
# usage: deb_lintian_test.sh BUILD_DIR ROOT SOURCE_DIR
set -euo pipefail
build=$1 root=$2 source=$3
. "$(dirname "$0")/testlib.sh"
command -v lintian >/dev/null || fail "lintian is missing (scripts/test-deps installs it)"
command -v groff >/dev/null || fail "groff is missing (scripts/test-deps installs it)"

debs=("$build"/flowdeck_*.deb)
[ ${#debs[@]} = 1 ] && [ -f "${debs[0]}" ] || fail "expected one .deb in $build (package_deb)"
status=0
lintian --fail-on error,warning --display-level '>=warning' "${debs[0]}" >"$work/lintian" 2>&1 ||
  status=$?
cat "$work/lintian"
[ "$status" = 0 ] && ! grep -qE '^[EW]: ' "$work/lintian" || fail "lintian: errors or warnings"
echo "lintian: no errors, no warnings on ${debs[0]##*/}"

# The page as a reader sees it, without hyphenation or wide characters, so that names can be
# looked up whole.
page=$root/usr/share/man/man1/flowdeck.1.gz
expect_file "$page"
zcat "$page" | groff -man -Tascii -P-cbou -rLL=200n -ww 2>"$work/groff" >"$work/page"
[ ! -s "$work/groff" ] || { cat "$work/groff"; fail "groff warns about the manual page"; }
look_for() {  # WHAT NAME...: each NAME stands in the page as a word
  local what=$1 name
  shift
  [ $# -gt 0 ] || fail "no $what to look for"
  for name; do
    grep -qE -- "(^|[^A-Za-z0-9_-])$name([^A-Za-z0-9_]|$)" "$work/page" ||
      fail "the manual page does not mention the $what $name"
  done
  echo "the manual page names all $# ${what}s"
}
flowdeck=$root/usr/bin/flowdeck
look_for command replay follow report status --version --help
for command in replay follow report status; do
  options=$("$flowdeck" "$command" --help | { grep -oE '^  (-[-a-z]+)' || true; } | sort -u)
  # shellcheck disable=SC2086
  [ -z "$options" ] && [ "$command" = status ] || look_for "$command option" $options
done
# shellcheck disable=SC2046
look_for setting $(grep -oE '^ *\{"[A-Za-z]+", Type::' "$source/host/base/HostConfig.cpp" |
  grep -oE '[A-Za-z]+' | grep -v '^Type$')
run_files=$({
  sed -n '/FreshStartNames() {/,/^}/p; /WrittenNames() {/,/^}/p' "$source/host/base/RunFiles.cpp" |
    grep -oE '"[A-Za-z.-]+"'
  grep -oE 'k[A-Za-z]+ = "[A-Za-z-]+\.[A-Za-z]+"' "$source/host/base/RunFiles.h" | grep -oE '"[^"]+"'
} | tr -d '"' | sort -u | sed 's/\./\\./g')
# shellcheck disable=SC2086
look_for "run file" $run_files
