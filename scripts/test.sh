#!/usr/bin/env bash
# Builds the primary 32-bit Linux target and runs its whole test suite.
# Usage: scripts/test.sh [preset]   (default: linux-x86)
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-linux-x86}
bash scripts/bootstrap.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j"$(nproc)"
ctest --preset "$preset" -j"$(nproc)"
