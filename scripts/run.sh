#!/usr/bin/env bash
# Builds the 32-bit Linux target and runs the plug-in in the development host.
# Extra arguments go to ktx-host (for example --once).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh
cmake --preset linux-x86 >/dev/null
cmake --build --preset linux-x86 -j"$(nproc)" --target ktx-host
exec build/linux-x86/bin/ktx-host "$@"
