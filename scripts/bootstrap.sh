#!/usr/bin/env bash
# Installs every Debian package the builds, tests and the development host need
# on a fresh Debian 12 machine. Idempotent and quick when nothing is missing.
set -euo pipefail

packages_amd64=(
  build-essential cmake ninja-build pkg-config git clang-format clang lld libclang-rt-14-dev
  g++-multilib gcc-multilib
  googletest libgtest-dev libbenchmark-dev libyaml-cpp0.7
  rapidjson-dev libyaml-dev nlohmann-json3-dev
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix mingw-w64-i686-dev
  wine wine32 binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
  wine64 binutils-mingw-w64-x86-64
  dpkg-dev qemu-user
  qemu-system-x86 busybox-static
  python3 python3-pefile
  libboost1.81-dev libcurl4-openssl-dev
  chromium
)
packages_i386=(
  libc6-dev:i386 libyaml-dev:i386 libbenchmark-dev:i386 libyaml-cpp-dev:i386
  libboost1.81-dev:i386 libcurl4-openssl-dev:i386
)
# The development host's Swagger UI and the demo page's browser test driver
# come from npm; Debian's npm (with Debian's node) brings them unless the
# machine has an npm already.
if ! command -v npm >/dev/null 2>&1; then
  packages_amd64+=(npm)
fi

missing=()
for p in "${packages_amd64[@]}" "${packages_i386[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

need_update=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  need_update=1
fi

# Source packages (libyaml for the Windows build) need deb-src entries.
src_list=/etc/apt/sources.list.d/ktx-deb-src.sources
if [ ! -f "$src_list" ]; then
  cat >"$src_list" <<'SOURCES'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
  need_update=1
fi

if [ ${#missing[@]} -gt 0 ] || [ $need_update -eq 1 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  if [ ${#missing[@]} -gt 0 ]; then
    echo "bootstrap: installing ${missing[*]}"
    # amd64 and i386 in one call: multiarch pairs must have the same version.
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
fi

# fill_cache ROOT WHAT FETCH: runs the function FETCH in a scratch folder that
# then becomes ROOT, so that an interrupted download is never taken as present.
# A failed FETCH is tried once more after apt-get update: the package lists may
# be missing, or name a version the archive no longer has.
fill_cache() {
  local root=$1 what=$2 fetch=$3 scratch
  mkdir -p "$(dirname "$root")"
  scratch=$(mktemp -d "$root.XXXXXX")
  if ! (cd "$scratch" && "$fetch"); then
    apt-get update -qq
    if ! (cd "$scratch" && "$fetch"); then
      rm -rf "$scratch"
      echo "bootstrap: $what failed" >&2
      exit 1
    fi
  fi
  chmod 755 "$scratch"
  rm -rf "$root"
  mv "$scratch" "$root"
  echo "bootstrap: $what in $root"
}
# libyaml for the Windows build is compiled from Debian's source package
# (cmake/libyaml_from_source.cmake looks for it here).
libyaml_source_root=/var/cache/ktx/libyaml
fetch_libyaml() { apt-get source -qq libyaml >/dev/null 2>&1; }
if ! compgen -G "$libyaml_source_root/libyaml-*/src/api.c" >/dev/null; then
  fill_cache "$libyaml_source_root" "libyaml source" fetch_libyaml
fi
# Unpacks the Debian package $1 into the current folder, without installing it.
unpack_package() {
  apt-get download -qq "$1" >/dev/null 2>&1 && dpkg -x "$1"_*.deb . && rm "$1"_*.deb
}
# msgpack-cxx (a benchmark peer, header-only) depends on a Boost that conflicts
# with the host's: only its headers are unpacked here, used with MSGPACK_NO_BOOST
# (bench/CMakeLists.txt looks for them here).
msgpack_root=/var/cache/ktx/msgpack
fetch_msgpack() { unpack_package libmsgpack-cxx-dev; }
if [ ! -f "$msgpack_root/usr/include/msgpack.hpp" ]; then
  fill_cache "$msgpack_root" "msgpack-cxx headers" fetch_msgpack
fi
# Debian's amd64 kernel for the emulated guest in which scripts/wine32-guest.sh
# runs the windows-x86 tests under wine32: unpacked only, never installed (its
# hooks would write an initramfs and a boot entry for this machine). The
# version is the one linux-image-amd64 names when the folder is filled.
guest_kernel_root=/var/cache/ktx/guest-kernel
fetch_guest_kernel() {
  local package
  package=$(apt-cache depends linux-image-amd64 2>/dev/null |
            awk '/Depends: linux-image-[0-9]/ { print $2; exit }')
  [ -n "$package" ] && unpack_package "$package"
}
if ! compgen -G "$guest_kernel_root/boot/vmlinuz-*" >/dev/null; then
  fill_cache "$guest_kernel_root" "Debian's amd64 kernel for the guest" fetch_guest_kernel
fi
# Swagger UI for the development host's /docs: the npm package
# swagger-ui-dist, unpacked into a cache folder (host/app/host_options.h names it)
# and served from there; nothing is fetched at run time. Installed into a
# scratch folder and renamed, without install scripts.
swagger_version=5.35.0
swagger_root=/var/cache/ktx/swagger-ui
swagger_marker=$swagger_root/node_modules/swagger-ui-dist/package.json
if ! grep -q "\"version\": \"$swagger_version\"" "$swagger_marker" 2>/dev/null; then
  mkdir -p "$(dirname "$swagger_root")"
  scratch=$(mktemp -d "$swagger_root.XXXXXX")
  if ! SCARF_ANALYTICS=false npm install --prefix "$scratch" --ignore-scripts --no-audit \
      --no-fund --no-save --loglevel=error "swagger-ui-dist@$swagger_version" >/dev/null; then
    rm -rf "$scratch"
    echo "bootstrap: npm install swagger-ui-dist failed" >&2
    exit 1
  fi
  chmod 755 "$scratch"
  rm -rf "$swagger_root"
  mv "$scratch" "$swagger_root"
  echo "bootstrap: swagger-ui-dist $swagger_version in $swagger_root"
fi
# playwright-core drives Debian's chromium in the demo page's browser test
# (tests/host/web/). Only the driver: it downloads no browser of its own,
# and install scripts are not run. The version is the newest that still runs on
# Debian 12's node 18.
playwright_version=1.61.1
playwright_root=/var/cache/ktx/playwright
playwright_marker=$playwright_root/node_modules/playwright-core/package.json
if ! grep -q "\"version\": \"$playwright_version\"" "$playwright_marker" 2>/dev/null; then
  mkdir -p "$(dirname "$playwright_root")"
  scratch=$(mktemp -d "$playwright_root.XXXXXX")
  if ! PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm install --prefix "$scratch" --ignore-scripts \
      --no-audit --no-fund --no-save --loglevel=error "playwright-core@$playwright_version" \
      >/dev/null; then
    rm -rf "$scratch"
    echo "bootstrap: npm install playwright-core failed" >&2
    exit 1
  fi
  chmod 755 "$scratch"
  rm -rf "$playwright_root"
  mv "$scratch" "$playwright_root"
  echo "bootstrap: playwright-core $playwright_version in $playwright_root"
fi
# Some kernels are booted with 32-bit emulation disabled (dmesg: "32-bit
# emulation disabled"): the primary 32-bit build then cannot run its tests.
# Register qemu's user-mode i386 emulator for 32-bit ELF programs, so that they
# run unchanged (slower) through binfmt_misc.
if ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
  binfmt=/proc/sys/fs/binfmt_misc
  [ -f "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt"
  if [ ! -f "$binfmt/ktx-qemu-i386" ]; then
    printf '%s' ':ktx-qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:' >"$binfmt/register"
  fi
  if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    echo "bootstrap: this kernel does not run 32-bit programs; they run under qemu-i386"
  else
    echo "bootstrap: this kernel does not run 32-bit programs and qemu-i386 could not be registered" >&2
    exit 1
  fi
fi
echo "bootstrap: all packages present"
