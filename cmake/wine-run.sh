#!/usr/bin/env bash
# Runs a Windows test program under wine with a prefix private to the build
# tree, created once. Used as CMAKE_CROSSCOMPILING_EMULATOR.
set -euo pipefail
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
     wineboot -i >/dev/null 2>&1 || true
     wineserver -w || true
     touch "$WINEPREFIX/.ktx-ready"
   fi) 9>"$build_dir/wineprefix.lock"
fi
exec wine "$@"
