#!/usr/bin/env bash
# Screenshots of the windows on the demo machine, into docs/: each state that
# vantrel-shot knows (vantrel-shot --list), or only the names given, shown
# under Xvfb and taken with `import -window root`.
#   scripts/screenshots.sh                 # all of them
#   scripts/screenshots.sh std-recovery    # one
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VANTREL_BUILD_DIR:-$root/build}
out=${VANTREL_SHOTS_DIR:-$root/docs}
"$root/scripts/setup.sh" >/dev/null
# `import` (ImageMagick) takes the pictures; only this script needs it.
if ! command -v import >/dev/null 2>&1; then
  sudo_cmd=(); [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends imagemagick
fi
demo="$build/demo"
bash "$root/tests/fixtures/build-all.sh" "$demo" >/dev/null
export VANTREL_MACHINE="$demo/demo.ini" QT_QPA_PLATFORM=xcb LC_ALL=C.UTF-8 TZ=UTC
mkdir -p "$out"
shot="$build/bin/vantrel-shot"
if [ $# -gt 0 ]; then names=("$@"); else mapfile -t names < <("$shot" --list | cut -f1); fi

for name in "${names[@]}"; do
  # Inside the X server: start the state, wait for "ready", photograph the
  # screen, end the state.
  xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
    set -euo pipefail
    fifo=$(mktemp -u); mkfifo "$fifo"
    "$1" "$2" >"$fifo" & pid=$!
    while read -r line; do [ "$line" = ready ] && break; done <"$fifo"
    import -window root "$3"
    kill "$pid"; wait "$pid" 2>/dev/null || true; rm -f "$fifo"
  ' _ "$shot" "$name" "$out/$name.png"
  echo "$out/$name.png"
done
