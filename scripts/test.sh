#!/usr/bin/env bash
# Sets up, builds and runs every test: the unit, image and window tests
# (CTest), the fuzz targets on their corpora for a short time, and the
# benchmark smoke run. Each part runs even when one before it failed; the
# last lines give the totals of every part, and the exit status is non-zero
# when anything failed.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VANTREL_BUILD_DIR:-$root/build}
log=$(mktemp -d)
trap 'rm -rf "$log"' EXIT

cat <<TXT
Vantrel tests, in five steps:
  1. set-up: install the Debian packages that are missing (apt-get, needs root or sudo)
  2. build into $build (CMake, Ninja)
  3. the unit, disk-image and window tests (CTest; the test disks are made first with mkfs.fat,
     mtools, mkntfs and sfdisk; windows run on Qt's offscreen platform and once under Xvfb)
  4. every fuzz target for a few seconds (clang, libFuzzer) into build-fuzz/
  5. the benchmark smoke run (tiny images, nothing timed)
TXT

step() { printf '\n== %s\n' "$*"; }

step "1-2. set-up and build"
if ! "$root/scripts/setup.sh"; then
  echo "totals: set-up or build failed, no test ran"
  echo "0 passed, 1 failed"
  exit 1
fi

step "3. CTest"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure --parallel "$(nproc)" --timeout 600 2>&1 | tee "$log/ctest"
ctest_status=${PIPESTATUS[0]}
ctest_total=$(sed -n 's/.*tests passed, \([0-9]*\) tests\{0,1\} failed out of \([0-9]*\).*/\2/p' "$log/ctest" | tail -1)
ctest_failed=$(sed -n 's/.*tests passed, \([0-9]*\) tests\{0,1\} failed out of \([0-9]*\).*/\1/p' "$log/ctest" | tail -1)
if [ -z "$ctest_total" ]; then
  ctest_total=1 ctest_failed=1  # CTest itself did not run to its summary
elif [ "$ctest_status" -ne 0 ] && [ "$ctest_failed" -eq 0 ]; then
  ctest_failed=1
fi
ctest_passed=$((ctest_total - ctest_failed))

step "4. fuzz targets"
"$root/scripts/fuzz.sh" --smoke 2>&1 | tee "$log/fuzz"
fuzz_status=${PIPESTATUS[0]}
fuzz_passed=$(grep -c '^fuzz: .* ok' "$log/fuzz")
fuzz_failed=$(grep -c -E '^fuzz: .*(FAILED|fails a kept crash input)' "$log/fuzz")
[ "$fuzz_status" -ne 0 ] && [ "$fuzz_failed" -eq 0 ] && fuzz_failed=1

step "5. benchmark smoke run"
if "$root/bench/run.sh" --smoke; then bench_passed=1 bench_failed=0; else bench_passed=0 bench_failed=1; fi

passed=$((ctest_passed + fuzz_passed + bench_passed))
failed=$((ctest_failed + fuzz_failed + bench_failed))
echo
echo "parts: ctest $ctest_passed passed, $ctest_failed failed; fuzz $fuzz_passed passed, $fuzz_failed failed; bench smoke $bench_passed passed, $bench_failed failed"
echo "totals: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
