#!/usr/bin/env bash
# Creates a private Wine prefix once (about 6 s) and links the dialog fonts to a
# CJK font so that Chinese captions render. Safe to call concurrently.
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
/usr/lib/wine/wine64 regedit /S "Z:${here//\//\\}\\wine-fontlink.reg" >/dev/null 2>&1
/usr/lib/wine/wineserver -w
touch "$prefix/.korvane-ready"
