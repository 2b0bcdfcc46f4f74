#!/usr/bin/env bash
# Builds the fuzz targets and runs each for SECONDS (default 60) on a copy of its seed corpus.
# Any finding (crash, sanitizer report, broken property) fails the run and leaves its input in
# build-fuzz/findings/. A target gets the tokens of tests/fuzz/NAME.dict when there is one.
# A longer run: tests/fuzz/run.sh 3600
set -euo pipefail
seconds=${1:-60}
cd "$(dirname "$0")/../.."
cmake --preset fuzz >/dev/null
# Only the targets: the plug-in modules do not link with clang's sanitizer runtime left out.
targets=()
for corpus in tests/fuzz/corpus/*/; do targets+=(fuzz_"$(basename "$corpus")"); done
cmake --build --preset fuzz --target "${targets[@]}"
mkdir -p build-fuzz/findings
status=0
for corpus in tests/fuzz/corpus/*/; do
  name=$(basename "$corpus")
  target=build-fuzz/bin/fuzz_$name
  [ -x "$target" ] || { echo "fuzz: no target for corpus $name"; status=1; continue; }
  work=$(mktemp -d)
  cp "$corpus"* "$work"/
  dictionary=()
  [ -f tests/fuzz/"$name".dict ] && dictionary=(-dict=tests/fuzz/"$name".dict)
  echo "fuzz: $name for ${seconds}s"
  if ! "$target" -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=4096 \
      "${dictionary[@]}" -artifact_prefix=build-fuzz/findings/"$name"- -print_final_stats=1 "$work" \
      > build-fuzz/"$name".log 2>&1; then
    echo "fuzz: $name FOUND A PROBLEM:"; tail -n 40 build-fuzz/"$name".log; status=1
  fi
  grep -E '^stat::number_of_executed_units|^#[0-9]+[[:space:]]+DONE' build-fuzz/"$name".log | tail -n 2 || true
  rm -rf "$work"
done
exit $status
