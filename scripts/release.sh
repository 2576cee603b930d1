#!/usr/bin/env bash
# Makes the release bundles of both product presets, with their checksums, in
# one folder (README.md, "Release bundles", says what each holds):
#   ktx-be-tav-personalized-offers-<version>-windows-x86.zip
#   ktx-be-tav-personalized-offers-<version>-linux-x86.tar.gz
#   ktx-plugin-sdk-<version>-windows-x86.zip
#   ktx-plugin-sdk-<version>-linux-x86.tar.gz
#   SHA256SUMS
# Builds only what the bundles hold (the plug-in links every SDK library; on
# Linux ktx-host too), in the presets' own build trees, so a tree already
# built is reused. cpack makes each bundle from the install components
# (cmake/release.cmake).
# Usage: scripts/release.sh [output folder]   (default build/release)
# JOBS sets the build's parallel jobs (default: the number of processors).
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build/release}
jobs=${JOBS:-$(nproc)}
bash scripts/bootstrap.sh
mkdir -p "$out"
rm -f "$out"/ktx-be-tav-personalized-offers-*.* "$out"/ktx-plugin-sdk-*.* "$out/SHA256SUMS"
bundles=()
for preset in linux-x86 windows-x86; do
  echo "release: $preset"
  cmake --preset "$preset" >/dev/null
  targets=(ktx-be-tav-personalized-offers)
  [ "$preset" = linux-x86 ] && targets+=(ktx-host)
  cmake --build --preset "$preset" -j"$jobs" --target "${targets[@]}"
  packages=build/$preset/release/packages
  rm -rf "$packages"
  for bundle in plugin sdk; do
    cpack --config "build/$preset/CPackConfig.cmake" -D KTX_RELEASE_BUNDLE="$bundle" >/dev/null
  done
  for file in "$packages"/*.zip "$packages"/*.tar.gz; do
    [ -e "$file" ] || continue
    cp "$file" "$out/"
    bundles+=("$(basename "$file")")
  done
done
(cd "$out" && sha256sum -- "${bundles[@]}" >SHA256SUMS)
echo "release: in $out:"
(cd "$out" && ls -l -- "${bundles[@]}" SHA256SUMS)
