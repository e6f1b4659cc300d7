#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer) into
# build-fuzz/ and runs each over its corpus; --smoke runs each for a few
# seconds, otherwise for $FUZZ_SECONDS (default 60).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VANTREL_FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${FUZZ_SECONDS:-60}
seed=()
# The smoke run of CI is repeatable: a fixed seed. Longer runs explore anew.
[ "${1:-}" = "--smoke" ] && { seconds=5; seed=(-seed=1); }
[ -d "$root/tests/fuzz" ] || exit 0
ls "$root"/tests/fuzz/*_fuzz.cpp >/dev/null 2>&1 || exit 0

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DVANTREL_FUZZ=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --parallel "$(nproc)"
status=0
for target in "$build"/tests/fuzz/*_fuzz; do
  name=$(basename "$target")
  corpus="$root/tests/fuzz/corpus/${name%_fuzz}"
  work=$(mktemp -d)
  cp -r "$corpus"/. "$work"/ 2>/dev/null || true
  # Regression inputs first: every kept crash must now pass.
  if [ -d "$root/tests/fuzz/crashes/${name%_fuzz}" ]; then
    "$target" -runs=0 "$root/tests/fuzz/crashes/${name%_fuzz}" >/dev/null 2>&1 || { echo "fuzz: $name fails a kept crash input"; status=1; }
  fi
  if "$target" "${seed[@]}" -artifact_prefix="$work.crash-" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "$work" >"$work.log" 2>&1; then
    echo "fuzz: $name ok ($(grep -o 'stat::number_of_executed_units: [0-9]*' "$work.log" | tail -1 | awk '{print $2}') runs)"
  else
    echo "fuzz: $name FAILED"; tail -40 "$work.log"; status=1
  fi
  rm -rf "$work" "$work.log"
done
exit $status
