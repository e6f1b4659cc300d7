#!/usr/bin/env bash
# Runs a window test under a real X server (Xvfb) on Qt's xcb platform.
# Exits 77 (skipped) when the machine has no xvfb-run.
set -euo pipefail
if ! command -v xvfb-run >/dev/null 2>&1 || ! command -v Xvfb >/dev/null 2>&1; then
  echo "xvfb-run is not installed: skipped"
  exit 77
fi
# xvfb-run -a picks the first free display number, and two of them started
# at once can pick the same one: the window tests that CTest runs side by side
# take their turns here.
lock=${TMPDIR:-/tmp}/vantrel-xvfb.lock
exec flock "$lock" xvfb-run -a -s "-screen 0 1280x1024x24" env QT_QPA_PLATFORM=xcb "$@"
