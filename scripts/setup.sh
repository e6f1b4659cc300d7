#!/usr/bin/env bash
# Installs the Debian packages that are missing, then configures and builds
# Vantrel into build/ (or $VANTREL_BUILD_DIR). Arguments go to CMake's
# configure step; $VANTREL_JOBS sets the build's parallel jobs (default: one
# per core) and $VANTREL_TARGETS builds only those targets.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VANTREL_BUILD_DIR:-$root/build}

missing=()
while read -r pkg; do
  case "$pkg" in ''|'#'*) continue ;; esac
  status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$pkg")
done < "$root/scripts/packages.txt"
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
targets=()
for t in ${VANTREL_TARGETS:-}; do targets+=(--target "$t"); done
cmake --build "$build" --parallel "${VANTREL_JOBS:-$(nproc)}" "${targets[@]}"
