#!/usr/bin/env bash
# Sets up, builds and starts Vantrel. Without a machine profile of your own
# (VANTREL_MACHINE) it starts on a demo disk image; VANTREL_REAL=1 uses the
# real drives (as root).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VANTREL_BUILD_DIR:-$root/build}
"$root/scripts/setup.sh"
if [ -z "${VANTREL_MACHINE:-}" ] && [ "${VANTREL_REAL:-}" != 1 ]; then
  demo="$build/demo"
  bash "$root/tests/fixtures/build-all.sh" "$demo" >/dev/null
  [ -f "$demo/demo.ini" ] && export VANTREL_MACHINE="$demo/demo.ini"
fi
exec "$build/bin/Vantrel"
