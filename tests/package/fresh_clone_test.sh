#!/usr/bin/env bash
# The README's first command, as it stands there, on a copy of the source tree (its tracked
# files, as a clean clone has them) with GoogleTest and Google Benchmark hidden, as on a machine
# that has only a compiler, CMake, Ninja and flowdeck's own libraries: it configures, saying
# once that the tests and the benchmarks are not built, builds flowdeck, its plug-ins and the
# sample generator and nothing else, and replays the sample (without settings: exports on).
# usage: fresh_clone_test.sh SOURCE_DIR
set -euo pipefail
source=$1
. "$(dirname "$0")/testlib.sh"

clone=$work/flowdeck
mkdir "$clone"
if git -C "$source" rev-parse --show-toplevel >/dev/null 2>&1; then
  (cd "$source" && git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' file; do [ -e "$file" ] && printf '%s\0' "$file"; done |
    xargs -0 cp --parents -t "$clone")
else
  tar -C "$source" --exclude='./build*' --exclude='./flowdeck-out' --exclude=node_modules -cf - . |
    tar -C "$clone" -xf -
fi

command=$(awk '/^## Set-up on a fresh machine/ { on = 1 } on && /^    / { sub(/^    /, ""); print; exit }' \
  "$source/README.md")
[ -n "$command" ] || fail "README.md has no first command under '## Set-up on a fresh machine'"
echo "README's first command: $command"

# A toolchain file is the one way to hand a preset's configure more settings from outside
# (CMAKE_TOOLCHAIN_FILE in the environment): here, that the test libraries are not there.
printf 'set(CMAKE_DISABLE_FIND_PACKAGE_GTest ON)\nset(CMAKE_DISABLE_FIND_PACKAGE_benchmark ON)\n' \
  >"$work/no-test-libraries.cmake"
cd "$clone"
hold_port80
CMAKE_TOOLCHAIN_FILE=$work/no-test-libraries.cmake bash -euo pipefail -c "$command" \
  >"$work/output" 2>&1 || { tail -n 60 "$work/output"; fail "the README's first command"; }

grep 'not built' "$work/output" || true
for what in "the tests are not built" "the benchmarks are not built"; do
  [ "$(grep -c "$what" "$work/output")" = 1 ] || { cat "$work/output"; fail "not said once: $what"; }
done
built=$(ls build/bin)
[ "$built" = "$(printf 'flowdeck\nflowdeck-sample')" ] || fail "build/bin holds: $built"
expect_sample_replay "$work/output" flowdeck-out
expect_file flowdeck-out/report.html
echo "the README's first command built and replayed the sample without the test libraries"
