#!/usr/bin/env bash
# Sets up, builds and runs every test: the unit, image and window tests
# (CTest), the fuzz targets on their corpora for a short time, and the
# benchmark smoke run. Each part runs even when one before it failed; the
# last lines give the totals of every part, and the exit status is non-zero
# when anything failed.
#
#   scripts/test.sh              # everything, as CI runs it
#   scripts/test.sh --sanitize   # the CTest suite built with ASan and UBSan
#   scripts/test.sh --tsan       # the write-behind's and the windows' recovery tests under TSan
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
log=$(mktemp -d)
trap 'rm -rf "$log"' EXIT

mode=plain
case "${1:-}" in
  '') ;;
  --sanitize) mode=sanitize ;;
  --tsan) mode=tsan ;;
  *) echo "usage: scripts/test.sh [--sanitize | --tsan]" >&2; exit 2 ;;
esac
if [ "$mode" = plain ]; then
  build=${VANTREL_BUILD_DIR:-$root/build}
else
  build=${VANTREL_BUILD_DIR:-$root/build-$mode}
fi

step() { printf '\n== %s\n' "$*"; }

# Runs CTest with the arguments given; sets ctest_passed and ctest_failed.
run_ctest() {
  "$@" 2>&1 | tee "$log/ctest"
  local status=${PIPESTATUS[0]} total
  total=$(sed -n 's/.*tests passed, \([0-9]*\) tests\{0,1\} failed out of \([0-9]*\).*/\2/p' "$log/ctest" | tail -1)
  ctest_failed=$(sed -n 's/.*tests passed, \([0-9]*\) tests\{0,1\} failed out of \([0-9]*\).*/\1/p' "$log/ctest" | tail -1)
  if [ -z "$total" ]; then
    total=1 ctest_failed=1  # CTest itself did not run to its summary
  elif [ "$status" -ne 0 ] && [ "$ctest_failed" -eq 0 ]; then
    ctest_failed=1
  fi
  ctest_passed=$((total - ctest_failed))
}

export QT_QPA_PLATFORM=offscreen

if [ "$mode" != plain ]; then
  # A build of its own with the sanitizers. The first error a sanitizer
  # finds ends that test program with its report (and stack) and fails the
  # test. What belongs to the system's libraries is suppressed in the files
  # of tests/sanitizers/, each line saying whose it is.
  supp=$root/tests/sanitizers
  if [ "$mode" = sanitize ]; then
    flavour=address
    what="every CTest test, built with AddressSanitizer and UndefinedBehaviorSanitizer (leaks too)"
    export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1"
    export LSAN_OPTIONS="suppressions=$supp/lsan.supp:print_suppressions=0"
    export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:suppressions=$supp/ubsan.supp"
    targets=''  # everything
    select=()
  else
    flavour=thread
    what="the tests of the write-behind and of the windows' recoveries, built with ThreadSanitizer"
    export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$supp/tsan.supp"
    programs="engine_WriteBehind_test engine_DiskParamRecover_test engine_DiskParamRecoverNtfs_test ui_QuickMain_test ui_AdvMain_test"
    targets="$programs"
    # Each test carries the name of its program as its label.
    select=(-L "^($(echo "$programs" | tr ' ' '|'))\$")
  fi
  cat <<TXT
Vantrel tests under the sanitizers ($mode), in three steps:
  1. set-up: install the Debian packages that are missing (apt-get, needs root or sudo)
  2. build into $build (CMake, Ninja, -DVANTREL_SANITIZE=$flavour)
  3. $what
TXT
  step "1-2. set-up and build"
  if ! VANTREL_BUILD_DIR="$build" VANTREL_TARGETS="$targets" "$root/scripts/setup.sh" -DVANTREL_SANITIZE="$flavour"; then
    echo "totals: set-up or build failed, no test ran"
    echo "0 passed, 1 failed"
    exit 1
  fi
  step "3. CTest ($mode)"
  runner=()
  # ThreadSanitizer wants the address layout of a process without
  # randomisation on kernels that randomise many bits.
  if [ "$mode" = tsan ] && command -v setarch >/dev/null; then runner=(setarch "$(uname -m)" -R); fi
  run_ctest "${runner[@]}" ctest --test-dir "$build" --output-on-failure --parallel "${VANTREL_JOBS:-$(nproc)}" \
    --timeout 1800 "${select[@]}"
  echo
  echo "totals: $ctest_passed passed, $ctest_failed failed"
  [ "$ctest_failed" -eq 0 ]
  exit
fi

cat <<TXT
Vantrel tests, in five steps:
  1. set-up: install the Debian packages that are missing (apt-get, needs root or sudo)
  2. build into $build (CMake, Ninja)
  3. the unit, disk-image and window tests (CTest; the test disks are made first with mkfs.fat,
     mtools, mkntfs and sfdisk; windows run on Qt's offscreen platform and once under Xvfb)
  4. every fuzz target for a few seconds (clang, libFuzzer) into build-fuzz/
  5. the benchmark smoke run (tiny images, nothing timed)
TXT

step "1-2. set-up and build"
if ! "$root/scripts/setup.sh"; then
  echo "totals: set-up or build failed, no test ran"
  echo "0 passed, 1 failed"
  exit 1
fi

step "3. CTest"
run_ctest ctest --test-dir "$build" --output-on-failure --parallel "$(nproc)" --timeout 600

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
