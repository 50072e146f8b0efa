#!/usr/bin/env bash
# Runs a Windows program under wine64 with the build tree's private prefix.
# ctest uses it as the cross-compiling emulator; scripts/run.sh uses it too.
#   KORVANE_WINEPREFIX  prefix to use (default: ./wineprefix in the current directory,
#                       which for ctest is the build tree)
#   DISPLAY             X display; when unset the program runs under xvfb-run
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX=${KORVANE_WINEPREFIX:-$PWD/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
"$here/wine-prefix.sh" "$WINEPREFIX"
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" /usr/lib/wine/wine64 "$@"
fi
exec /usr/lib/wine/wine64 "$@"
