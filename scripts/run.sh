#!/usr/bin/env bash
# Builds the 32-bit Linux target and runs the plug-in in the development host.
# The host prints the demo page's address with this run's token ("Demo page:
# http://127.0.0.1:PORT/?token=..."): open it in a browser on this machine.
# Extra arguments go to ktx-host (for example --once).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh
cmake --preset linux-x86 >/dev/null
cmake --build --preset linux-x86 -j"$(nproc)" --target ktx-host
exec build/linux-x86/bin/ktx-host "$@"
