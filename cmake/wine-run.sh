#!/usr/bin/env bash
# Runs a Windows test program under wine with a prefix private to the build
# tree, created once. Used as CMAKE_CROSSCOMPILING_EMULATOR.
# Usage: wine-run.sh [--win64] program [arguments]
#   --win64: a 64-bit program, run by wine64 in a 64-bit prefix; otherwise
#   wine's default loader (wine32 where it is installed).
set -euo pipefail
wine=wine
wineserver=wineserver
if [ "${1:-}" = --win64 ]; then
  shift
  wine=/usr/lib/wine/wine64
  wineserver=/usr/lib/wine/wineserver64
  export WINEARCH=win64 WINELOADER=$wine WINESERVER=$wineserver
fi
build_dir=${KTX_WINE_BUILD_DIR:-$PWD}
# The program path tells the build tree: walk up to the directory with CMakeCache.txt.
dir=$(dirname "$(readlink -f "$1")")
while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
[ -f "$dir/CMakeCache.txt" ] && build_dir=$dir
export WINEPREFIX="$build_dir/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/.ktx-ready" ]; then
  mkdir -p "$WINEPREFIX"
  (flock 9
   if [ ! -f "$WINEPREFIX/.ktx-ready" ]; then
     "$wine" wineboot -i >/dev/null 2>&1 || true
     "$wineserver" -w || true
     touch "$WINEPREFIX/.ktx-ready"
   fi) 9>"$build_dir/wineprefix.lock"
fi
exec "$wine" "$@"
