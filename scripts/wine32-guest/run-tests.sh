#!/usr/bin/env bash
# Runs inside the guest that scripts/wine32-guest.sh boots: the host's root
# filesystem read-only under a tmpfs overlay, so this checkout, its
# build/windows-x86 tree, wine32 and ctest are at the host's paths, and
# nothing written here reaches the host except through /mnt/out.
# Makes a fresh wine prefix in guest memory, warms a wineserver, runs
# `ctest --preset windows-x86` with the arguments given and leaves in /mnt/out:
#   stages     one "name seconds" line per stage (boot is the guest's uptime here)
#   ctest.log  ctest's output; junit.xml its report with each program's output
#   status     ctest's exit status (absent if the guest never got that far)
# Usage: run-tests.sh [ctest arguments]
# Environment (set by scripts/wine32-guest.sh):
#   KTX_GUEST_JOBS          ctest -j
#   KTX_GUEST_TEST_TIMEOUT  seconds one test program may run
#   KTX_GUEST_WINEARCH      win32 (a 32-bit-only prefix) or empty (wine's default)
set -uo pipefail
out=/mnt/out
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
build_dir=$source_dir/build/windows-x86
jobs=${KTX_GUEST_JOBS:-2}
test_timeout=${KTX_GUEST_TEST_TIMEOUT:-900}

uptime_s() { cut -d' ' -f1 /proc/uptime; }
mark=$(uptime_s)
# Appends the time since the previous stage (or since the guest's start).
stage() {
  local now
  now=$(uptime_s)
  awk -v name="$1" -v a="$mark" -v b="$now" 'BEGIN { printf "%s %.1f\n", name, b - a }' >>"$out/stages"
  mark=$now
}
give_up() {
  echo "$*" | tee -a "$out/ctest.log"
  echo 125 >"$out/status"
  exit 125
}
awk -v t="$mark" 'BEGIN { printf "boot %.1f\n", t }' >"$out/stages"

# Without binfmt_misc in this guest, a 32-bit program that runs here runs on
# the guest kernel's own 32-bit support, as wine32 needs.
/lib/ld-linux.so.2 --version >/dev/null 2>&1 ||
  give_up "wine32-guest: a 32-bit program does not run in the guest ($(uname -r))"

# The prefix of a native run on the host would show through the overlay: this
# run gets an empty one in guest memory at the path cmake/wine-run.sh uses, and
# the wineserver's sockets a folder no host process has touched.
export WINEPREFIX=$build_dir/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX" "/tmp/.wine-$(id -u)"
mount -t tmpfs tmpfs "$WINEPREFIX" && mount -t tmpfs -o mode=700 tmpfs "/tmp/.wine-$(id -u)" ||
  give_up "wine32-guest: cannot mount the guest's wine prefix"
[ -n "${KTX_GUEST_WINEARCH:-}" ] && export WINEARCH=$KTX_GUEST_WINEARCH
wine wineboot -i >"$out/wineboot.log" 2>&1
wineboot_status=$?
wineserver -w
[ $wineboot_status -eq 0 ] && [ -f "$WINEPREFIX/system.reg" ] ||
  give_up "wine32-guest: wineboot -i failed ($wineboot_status); see wineboot.log"
# cmake/wine-run.sh makes the prefix unless this marker is there.
touch "$WINEPREFIX/.ktx-ready"
stage wineboot

# One wineserver for the whole run, started here with a throw-away program so
# that wine's own services start with /dev/null as their output: started by the
# first test program, they would hold ctest's output pipe open and ctest would
# wait for it until the wineserver ends.
wineserver -p
wine cmd /c exit </dev/null >/dev/null 2>&1
stage warm-up

cd "$source_dir" || give_up "wine32-guest: no $source_dir in the guest"
ctest --preset windows-x86 -j"$jobs" --timeout "$test_timeout" \
  --test-output-size-passed 65536 --test-output-size-failed 1048576 \
  --output-junit "$out/junit.xml" "$@" >"$out/ctest.log" 2>&1
status=$?
stage tests
wineserver -k 2>/dev/null
echo $status >"$out/status"
