#!/usr/bin/env bash
# Takes the screenshots in docs/: builds the win64 program, runs it on a private Xvfb
# display and lets screenshot_helper.exe size its windows and capture them (main window
# at its start size and larger, connections dialog as it opens and maximised).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup.sh
scripts/build.sh win64 >/dev/null
export KORVANE_WINEPREFIX="$root/build/win64/wineprefix"
"$root/scripts/wine-prefix.sh" "$KORVANE_WINEPREFIX"

for n in $(seq 160 190); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
done
Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=":$n"
shots=$(mktemp -d)
trap 'kill $xvfb 2>/dev/null || true; rm -rf "$shots"' EXIT
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

"$root/scripts/wine-run.sh" "$root/build/win64/screenshot_helper.exe" "Z:${shots//\//\\}"
for shot in "$shots"/*.bmp; do
  convert "$shot" "$root/docs/$(basename "${shot%.bmp}").png"
  echo "docs/$(basename "${shot%.bmp}").png"
done
