#!/usr/bin/env bash
# Takes the screenshots in docs/: builds the win64 program and runs screenshot_helper.exe
# on a private Xvfb display; it starts korvane.exe, sizes its windows and captures them
# (main window at its start size and larger, connections dialog as it opens and maximised).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup.sh
scripts/build.sh win64 >/dev/null
export KORVANE_WINEPREFIX="$root/build/win64/wineprefix"
"$root/scripts/wine-prefix.sh" "$KORVANE_WINEPREFIX"

shots=$(mktemp -d)
trap 'rm -rf "$shots"' EXIT
# Without DISPLAY, wine-run.sh gives the program a private Xvfb display.
unset DISPLAY
"$root/scripts/wine-run.sh" "$root/build/win64/screenshot_helper.exe" "Z:${shots//\//\\}"
for shot in "$shots"/*.bmp; do
  convert "$shot" "$root/docs/$(basename "${shot%.bmp}").png"
  echo "docs/$(basename "${shot%.bmp}").png"
done
