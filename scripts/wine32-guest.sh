#!/usr/bin/env bash
# Runs the windows-x86 tests (`ctest --preset windows-x86`) under wine32 in a
# full-system emulated guest, so that they run on any x86-64 machine, also one
# whose kernel runs no 32-bit programs: Debian's own amd64 kernel booted by
# qemu-system-x86_64 with software emulation only (TCG, never hardware
# virtualisation), this machine's root filesystem shared read-only over 9p
# under a tmpfs overlay, a busybox initramfs. The guest thus runs this
# checkout's build/windows-x86 with this machine's wine32 and ctest, at the
# same paths, and changes nothing on the host.
#
# Usage: scripts/wine32-guest.sh [ctest arguments, e.g. -R '^platform_tests$']
# Needs build/windows-x86 built. Prints ctest's output and the stage times and
# exits with ctest's status; 124 when the guest ran out of time, 125 when it
# could not start wine, 1 when it ended before ctest did. Run it while nothing builds: test programs run
# 20 to 35 times slower than natively, and beside a build about 2.5 times
# slower again.
#
# Environment:
#   WINE32_GUEST_TIMEOUT       seconds the guest may run in all (default 1800);
#                              then qemu is killed and the run fails
#   WINE32_GUEST_TEST_TIMEOUT  seconds one test program may run (default 900)
#   WINE32_GUEST_CPUS          guest CPUs, also ctest -j (default 2)
#   WINE32_GUEST_MEMORY        guest memory (default 6G; the wine prefix and the
#                              overlay live in it, so at least 4G)
#   WINE32_GUEST_WINEARCH      win32 (default: a 32-bit-only prefix, made in
#                              half the time) or empty for wine's default
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$source_dir/build/windows-x86
guest_dir=$build_dir/wine32-guest
kernel_root=/var/cache/ktx/guest-kernel
timeout_s=${WINE32_GUEST_TIMEOUT:-1800}
test_timeout_s=${WINE32_GUEST_TEST_TIMEOUT:-900}
cpus=${WINE32_GUEST_CPUS:-2}
memory=${WINE32_GUEST_MEMORY:-6G}
winearch=${WINE32_GUEST_WINEARCH-win32}

now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }
say() { echo "wine32-guest: $*"; }
die() {
  echo "wine32-guest: $*" >&2
  exit 1
}
started=$(now)

bash "$source_dir/scripts/bootstrap.sh"
[ -f "$build_dir/CTestTestfile.cmake" ] ||
  die "$build_dir is not built: cmake --preset windows-x86 && cmake --build --preset windows-x86"
mkdir -p "$guest_dir"
exec 9>"$guest_dir/lock"
flock -n 9 || die "another guest runs on $build_dir"

kernels=("$kernel_root"/boot/vmlinuz-*)
kernel=${kernels[0]}
[ -f "$kernel" ] || die "no kernel in $kernel_root (scripts/bootstrap.sh unpacks it there)"
kernel_version=${kernel##*/vmlinuz-}

# The initramfs: static busybox, /init, and the modules for virtio PCI, 9p over
# virtio, overlayfs and the virtio entropy source, with what they depend on.
# Made once per build tree; made again when the kernel, busybox or /init change.
wanted_modules=(virtio_pci virtio_rng 9pnet_virtio 9p overlay)
initramfs=$guest_dir/initramfs.cpio.gz
initramfs_key="$kernel_version ${wanted_modules[*]} $(cat "$source_dir/scripts/wine32-guest/init" /bin/busybox | sha256sum)"
make_initramfs() {
  local root modules_dir name
  root=$(mktemp -d)
  mkdir -p "$root"/{bin,dev,proc,sys,lower,rw,newroot,modules}
  cp /bin/busybox "$root/bin/busybox"
  cp "$source_dir/scripts/wine32-guest/init" "$root/init"
  chmod 755 "$root/init"
  # The package was unpacked, not installed: no depmod ran, so each module's
  # own depends= field gives the load order.
  modules_dir=$kernel_root/lib/modules/$kernel_version/kernel
  declare -A module_file=() added=()
  while IFS= read -r file; do
    name=${file##*/}
    name=${name%%.ko*}
    module_file[${name//-/_}]=$file
  done < <(find "$modules_dir" -name '*.ko' -o -name '*.ko.xz')
  add_module() {
    local name=${1//-/_} file dependencies dependency
    [ -z "${added[$name]:-}" ] || return 0
    added[$name]=1
    file=${module_file[$name]:-}
    [ -n "$file" ] || return 0 # built into the kernel
    case $file in
      *.xz) xz -dc "$file" >"$root/modules/$name.ko" ;;
      *) cp "$file" "$root/modules/$name.ko" ;;
    esac
    dependencies=$(tr '\0' '\n' <"$root/modules/$name.ko" | LC_ALL=C sed -n 's/^depends=//p' | tr ',' ' ')
    for dependency in $dependencies; do add_module "$dependency"; done
    echo "$name.ko" >>"$root/modules/order"
  }
  for name in "${wanted_modules[@]}"; do add_module "$name"; done
  (cd "$root" && find . | /bin/busybox cpio -o -H newc -R 0:0 2>/dev/null | gzip -1) >"$initramfs.tmp"
  say "initramfs for $kernel_version: modules $(tr '\n' ' ' <"$root/modules/order")"
  rm -rf "$root"
  mv "$initramfs.tmp" "$initramfs"
  echo "$initramfs_key" >"$guest_dir/initramfs.key"
}
if [ ! -f "$initramfs" ] || [ "$(cat "$guest_dir/initramfs.key" 2>/dev/null)" != "$initramfs_key" ]; then
  make_initramfs
fi

# The results folder, shared read-write with the guest; guest.sh is what the
# guest's /init runs.
out=$guest_dir/out
rm -rf "$out"
mkdir -p "$out"
{
  echo '#!/bin/bash'
  printf 'export KTX_GUEST_JOBS=%q KTX_GUEST_TEST_TIMEOUT=%q KTX_GUEST_WINEARCH=%q\n' \
    "$cpus" "$test_timeout_s" "$winearch"
  printf 'exec /bin/bash %q' "$source_dir/scripts/wine32-guest/run-tests.sh"
  [ $# -eq 0 ] || printf ' %q' "$@"
  echo
} >"$out/guest.sh"

if pgrep -x 'cc1plus|ninja|make|ld' >/dev/null 2>&1; then
  say "a build runs beside the guest: its stages will take longer than usual"
fi
setup_s=$(since "$started")
say "booting Debian's kernel $kernel_version (TCG, $cpus CPUs, $memory), ctest ${*:-(all tests)}, at most $timeout_s s"
booted=$(now)
# -cpu max,-smap: QEMU 7.2's TCG performs the stack reads of an iret to user
# mode as supervisor accesses, which SMAP refuses: the guest kernel oopses and
# every wine process (wine returns to Windows code with iret) is killed.
# -nodefaults: no network device and no display, only what is named here.
status=0
timeout -k 10 "$timeout_s" qemu-system-x86_64 -nodefaults -no-reboot \
  -accel tcg,thread=multi -cpu max,-smap -smp "$cpus" -m "$memory" \
  -display none -monitor none -serial "file:$out/console.log" \
  -kernel "$kernel" -initrd "$initramfs" -append "console=ttyS0 panic=-1 loglevel=4" \
  -virtfs local,path=/,mount_tag=host,security_model=none,readonly=on,multidevs=remap \
  -virtfs "local,path=$out,mount_tag=out,security_model=none" \
  -device virtio-rng-pci </dev/null || status=$?
guest_s=$(since "$booted")

# The guest kernel's complaints (an oops kills the task that met it) and /init's lines.
grep -E 'BUG:|Oops|Call Trace|Kernel panic|wine32-guest-init:' "$out/console.log" 2>/dev/null || true
[ -f "$out/ctest.log" ] && cat "$out/ctest.log"
if [ -f "$out/junit.xml" ]; then
  say "GoogleTest cases passed: $(grep -o '\[  PASSED  \] [0-9]* test' "$out/junit.xml" |
    awk '{ n += $4 } END { print n + 0 }'), failed: $(grep -o '\[  FAILED  \] [0-9]* tests\?, listed below' "$out/junit.xml" |
    awk '{ n += $4 } END { print n + 0 }')"
fi
stages=$(awk '{ printf "%s%s %s s", sep, $1, $2; sep = ", " }' "$out/stages" 2>/dev/null || true)
say "stage times: setup $setup_s s, ${stages:+$stages, }guest $guest_s s, total $(since "$started") s"
if [ $status -eq 124 ] || [ $status -eq 137 ]; then
  echo "wine32-guest: the guest ran past $timeout_s s (WINE32_GUEST_TIMEOUT) and was killed" >&2
  exit 124
fi
[ $status -eq 0 ] || die "qemu-system-x86_64 failed ($status); see $out/console.log"
[ -f "$out/status" ] || {
  tail -n 20 "$out/console.log" >&2 || true
  die "the guest ended before ctest did; see $out/console.log"
}
exit "$(cat "$out/status")"
