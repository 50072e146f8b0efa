#!/usr/bin/env bash
# Creates a private Wine prefix once (about 10 s) and applies scripts/wine-prefix.reg:
# the dialog fonts are linked to a CJK font so that Chinese captions render, and
# windows are not handed to an X window manager (Xvfb has none; Wine would wait up
# to two seconds for one whenever a window is hidden). Safe to call concurrently.
set -euo pipefail
prefix=$1
here=$(cd "$(dirname "$0")" && pwd)
[ -f "$prefix/.korvane-ready" ] && exit 0
mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9
[ -f "$prefix/.korvane-ready" ] && exit 0
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
/usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
/usr/lib/wine/wine64 regedit /S "Z:${here//\//\\}\\wine-prefix.reg" >/dev/null 2>&1
/usr/lib/wine/wineserver -w
touch "$prefix/.korvane-ready"
