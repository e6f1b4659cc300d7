#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer) into
# build-fuzz/ and runs each over its corpus; --smoke runs each for a few
# seconds, otherwise for $FUZZ_SECONDS (default 60). The targets run side
# by side, $FUZZ_JOBS at a time (default: one per core).
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
jobs=${FUZZ_JOBS:-$(nproc)}
cmake --build "$build" --parallel "$jobs"

# One target: its kept crash inputs, then the run over a copy of its corpus.
# The verdict goes to $results/<name>; a failure keeps the log beside it.
fuzz_one() {
  local target=$1 name work
  name=$(basename "$target")
  work=$(mktemp -d)
  cp -r "$root/tests/fuzz/corpus/${name%_fuzz}"/. "$work"/ 2>/dev/null || true
  if [ -d "$root/tests/fuzz/crashes/${name%_fuzz}" ] &&
     ! "$target" -runs=0 "$root/tests/fuzz/crashes/${name%_fuzz}" >/dev/null 2>&1; then
    echo "fuzz: $name fails a kept crash input" >"$results/$name"
  elif "$target" "${seed[@]}" -artifact_prefix="$work." -max_total_time="$seconds" -timeout=10 \
       -rss_limit_mb=2048 -print_final_stats=1 "$work" >"$work.log" 2>&1; then
    echo "fuzz: $name ok ($(grep -o 'stat::number_of_executed_units: [0-9]*' "$work.log" | tail -1 | awk '{print $2}') runs)" \
      >"$results/$name"
  else
    { echo "fuzz: $name FAILED"; tail -40 "$work.log"; ls "$work".*-* 2>/dev/null; } >"$results/$name"
    cp "$work".*-* "$results"/ 2>/dev/null || true
  fi
  rm -rf "$work" "$work.log" "$work".*-*
}

results=$(mktemp -d)
trap 'rm -rf "$results"' EXIT
running=0
for target in "$build"/tests/fuzz/*_fuzz; do
  if [ "$running" -ge "$jobs" ]; then wait -n || true; running=$((running - 1)); fi
  fuzz_one "$target" &
  running=$((running + 1))
done
wait
status=0
for target in "$build"/tests/fuzz/*_fuzz; do
  out="$results/$(basename "$target")"
  cat "$out" 2>/dev/null || { echo "fuzz: $(basename "$target") gave no verdict"; status=1; continue; }
  grep -q ' ok (' "$out" || status=1
done
# Inputs that crashed are kept for a look (copy them to tests/fuzz/crashes).
if ls "$results"/tmp.* >/dev/null 2>&1; then
  keep="$build/crashes"
  mkdir -p "$keep"
  cp "$results"/tmp.* "$keep"/
  echo "fuzz: crash inputs in $keep"
fi
exit $status
