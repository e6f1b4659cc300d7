#!/usr/bin/env bash
# Sets up, builds and starts Vantrel. Without a machine profile of your own
# (VANTREL_MACHINE) and not as root, it starts on a demo disk image.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VANTREL_BUILD_DIR:-$root/build}
"$root/scripts/setup.sh"
if [ -z "${VANTREL_MACHINE:-}" ] && [ "$(id -u)" -ne 0 -o "${VANTREL_DEMO:-}" = 1 ]; then
  demo="$build/demo"
  bash "$root/tests/fixtures/build-all.sh" "$demo" >/dev/null
  export VANTREL_MACHINE="$demo/demo.ini"
fi
exec "$build/bin/Vantrel" "$@"
