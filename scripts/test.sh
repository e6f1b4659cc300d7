#!/usr/bin/env bash
# Sets up, builds and runs every test: the unit and image tests (CTest), the
# fuzz targets on their corpora for a short time, and the benchmark smoke run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VANTREL_BUILD_DIR:-$root/build}
"$root/scripts/setup.sh"

export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure --parallel "$(nproc)" --timeout 600

"$root/scripts/fuzz.sh" --smoke
"$root/bench/run.sh" --smoke
