#!/usr/bin/env bash
# Configures and builds every build of the tree under build/:
#   build/native    portable core, native tests and benchmarks (g++)
#   build/sanitize  portable core and tests with ASan+UBSan, and the fuzz targets (clang)
#   build/win64     everything for 64-bit Windows; its tests run under Wine
#   build/win32     everything for 32-bit Windows; compiled and linked only
# Pass build names to build only those (for example: scripts/build.sh win64).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
builds=("$@")
[ ${#builds[@]} -eq 0 ] && builds=(native sanitize win64 win32)
jobs=${KORVANE_JOBS:-$(nproc)}

configure() {
  local name=$1; shift
  if [ ! -f "build/$name/CMakeCache.txt" ]; then
    cmake -S . -B "build/$name" -G Ninja "$@" >/dev/null
  fi
}

for b in "${builds[@]}"; do
  case "$b" in
    native)   configure native -DCMAKE_BUILD_TYPE=RelWithDebInfo ;;
    sanitize) configure sanitize -DCMAKE_BUILD_TYPE=Debug -DKORVANE_SANITIZE=ON \
                -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ ;;
    win64)    configure win64 -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-win64.cmake" ;;
    win32)    configure win32 -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-win32.cmake" ;;
    *) echo "unknown build: $b" >&2; exit 2 ;;
  esac
  echo "== building $b"
  cmake --build "build/$b" -j "$jobs"
done
