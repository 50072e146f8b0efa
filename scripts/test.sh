#!/usr/bin/env bash
# The test command: installs what is missing, builds all four builds and runs every
# test (native, sanitizer, fuzz, and the Windows tests under Wine with Xvfb) in one
# ctest run, ending with ctest's summary.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup.sh
scripts/build.sh

xvfb_pid=""
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  WINEPREFIX="$root/build/win64/wineprefix" /usr/lib/wine/wineserver -k 2>/dev/null || true
}
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
  for n in $(seq 90 120); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$n"
    break
  done
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
fi

# One ctest run over the three builds whose tests run here.
cat > build/CTestTestfile.cmake <<'CT'
subdirs("native" "sanitize" "win64")
CT
ctest --test-dir build --output-on-failure -j "${KORVANE_JOBS:-$(nproc)}" "$@"
