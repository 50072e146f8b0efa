#!/usr/bin/env bash
# The run command: installs what is missing, builds the win64 program and runs it
# under Wine. With an X display the program simply runs there. Without one it runs
# on a private Xvfb display: the script waits for the main window, saves a
# screenshot to build/screenshot.png, says where, and closes the program.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup.sh
scripts/build.sh win64 >/dev/null
exe="$root/build/win64/korvane.exe"
export KORVANE_WINEPREFIX="$root/build/win64/wineprefix"
"$root/scripts/wine-prefix.sh" "$KORVANE_WINEPREFIX"

if [ -n "${DISPLAY:-}" ]; then
  exec "$root/scripts/wine-run.sh" "$exe"
fi

for n in $(seq 130 160); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
done
Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=":$n"
trap 'kill $xvfb 2>/dev/null || true' EXIT
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

"$root/scripts/wine-run.sh" "$exe" &
program=$!

# Waits for the main window (the large window titled with the product name); a
# start-up message box with the same title is answered with Enter.
main=""
for _ in $(seq 600); do
  for w in $(xdotool search --onlyvisible --name '^Korvane Inspector$' 2>/dev/null); do
    width=$(xdotool getwindowgeometry "$w" 2>/dev/null | sed -n 's/.*Geometry: \([0-9]*\)x.*/\1/p')
    if [ "${width:-0}" -ge 600 ]; then main=$w; else xdotool key --window "$w" Return 2>/dev/null || true; fi
  done
  [ -n "$main" ] && break
  kill -0 $program 2>/dev/null || { echo "korvane.exe ended before its main window appeared" >&2; exit 1; }
  sleep 0.1
done
[ -n "$main" ] || { echo "the main window did not appear" >&2; exit 1; }
sleep 1
import -window "$main" "$root/build/screenshot.png" 2>/dev/null || import -window root "$root/build/screenshot.png"
echo "main window shown; screenshot saved to $root/build/screenshot.png"
# Escape ends the main dialog like its Exit button; if the key does not arrive,
# the prefix's programs are ended.
xdotool windowfocus "$main" 2>/dev/null || true
xdotool key --window "$main" Escape 2>/dev/null || true
for _ in $(seq 50); do kill -0 $program 2>/dev/null || break; sleep 0.1; done
if kill -0 $program 2>/dev/null; then
  echo "closing korvane.exe"
  WINEPREFIX="$KORVANE_WINEPREFIX" /usr/lib/wine/wineserver -k || true
fi
wait $program 2>/dev/null || true
