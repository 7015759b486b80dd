#!/usr/bin/env bash
# Installs everything the build and the tests need on a Debian 12 machine:
# Debian packages (the MinGW cross compiler, Wine, jsmn, GoogleTest, the
# devserver's libraries) and cross builds of OpenSSL, curl and mbed TLS for
# 32-bit Windows, made from Debian's own source packages.
#
# Idempotent: each dependency leaves a stamp naming its version, and a run with
# every stamp present only checks them.
#
#   KVL_DEPS_DIR   cache and install prefix of the cross builds
#                  (default: /var/cache/kvl-deps, outside the clone so a warm
#                  machine reuses it)
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
deps_dir=${KVL_DEPS_DIR:-/var/cache/kvl-deps}
prefix="$deps_dir/mingw32"
src_dir="$deps_dir/src"
stamps="$deps_dir/stamps"
toolchain="$here/cmake/mingw-i686.cmake"
jobs=$(nproc 2>/dev/null || echo 2)

packages=(
  build-essential cmake ninja-build pkg-config dpkg-dev
  g++-mingw-w64-i686-posix mingw-w64-i686-dev mingw-w64-tools binutils-mingw-w64-i686
  wine wine32:i386 wine64 wixl
  libjsmn-dev googletest
  libmbedtls-dev libcurl4-openssl-dev libssl-dev openssl
  libcpp-httplib-dev nlohmann-json3-dev
  clang libclang-rt-14-dev
  curl python3 locales
)

step() { printf '==> %s\n' "$*"; }

missing_packages() {
  local p
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$' || printf '%s\n' "$p"
  done
}

need_root() {
  if [ "$(id -u)" -ne 0 ]; then
    printf 'bootstrap: %s\n' "$1" >&2
    printf 'bootstrap: run this script as root (sudo %s) or do it by hand:\n' "$0" >&2
    printf '  %s\n' "${@:2}" >&2
    exit 1
  fi
}

# --- Debian packages -------------------------------------------------------
step "checking Debian packages"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  need_root "the i386 architecture is not enabled (Wine needs wine32:i386)" \
    "dpkg --add-architecture i386 && apt-get update"
  step "enabling the i386 architecture"
  dpkg --add-architecture i386
  apt_stale=1
fi

src_list=/etc/apt/sources.list.d/kvl-deb-src.sources
if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
  need_root "no deb-src entry: Debian's source packages cannot be fetched" \
    "sed 's/^Types: deb\$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources > $src_list && apt-get update"
  step "adding Debian source entries ($src_list)"
  sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources > "$src_list"
  apt_stale=1
fi

mapfile -t missing < <(missing_packages)
if [ "${#missing[@]}" -gt 0 ]; then
  need_root "missing Debian packages: ${missing[*]}" \
    "apt-get update && apt-get install -y --no-install-recommends ${missing[*]}"
  apt_stale=1
fi
if [ "${apt_stale:-0}" = 1 ]; then
  step "apt-get update"
  apt-get update -q
fi
if [ "${#missing[@]}" -gt 0 ]; then
  step "installing ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# --- cross builds from Debian source packages --------------------------------
mkdir -p "$prefix" "$src_dir" "$stamps"

source_version() {
  apt-cache showsrc --only-source "$1" 2>/dev/null | awk '/^Version:/ {print $2; exit}'
}

# Downloads and unpacks a Debian source package; prints its directory.
unpack_source() {
  local pkg=$1 ver=$2 upstream dir
  upstream=${ver#*:}; upstream=${upstream%-*}
  dir="$src_dir/$pkg-$upstream"
  if [ ! -d "$dir" ]; then
    (cd "$src_dir" && apt-get source -q --download-only "$pkg=$ver" >&2 \
      && dpkg-source --no-check -x "$(ls ${pkg}_${upstream}*.dsc | head -n1)" "$dir" >&2)
  fi
  printf '%s\n' "$dir"
}

build_dep() {
  local pkg=$1 fn=$2 ver dir
  ver=$(source_version "$pkg")
  if [ -z "$ver" ]; then
    echo "bootstrap: no source package '$pkg' found (is the deb-src entry in place and apt-get update done?)" >&2
    exit 1
  fi
  if [ -f "$stamps/$pkg-$ver" ]; then
    step "$pkg $ver: already built"
    return
  fi
  [ "$(id -u)" -eq 0 ] || [ -w "$deps_dir" ] || need_root "cannot write $deps_dir" "mkdir -p $deps_dir && chown $(id -un) $deps_dir"
  step "$pkg $ver: fetching source"
  dir=$(unpack_source "$pkg" "$ver")
  step "$pkg $ver: building for i686-w64-mingw32 into $prefix"
  local start=$SECONDS
  "$fn" "$dir"
  rm -f "$stamps/$pkg"-*
  touch "$stamps/$pkg-$ver"
  step "$pkg $ver: done in $((SECONDS - start)) s"
}

build_openssl() {
  cd "$1"
  # Debian's pic patch makes the x86 assembly address ELF's global offset
  # table, which Windows objects cannot express: build without it.
  if patch -R -p1 --dry-run -s -f < debian/patches/pic.patch >/dev/null 2>&1; then
    patch -R -p1 -s -f < debian/patches/pic.patch
  fi
  [ ! -f Makefile ] || make clean >/dev/null 2>&1 || true
  ./Configure mingw no-shared no-tests no-engine no-module \
    --cross-compile-prefix=i686-w64-mingw32- --prefix="$prefix" --libdir=lib \
    CC=gcc-posix CXX=g++-posix >"$deps_dir/openssl.log" 2>&1
  make -j"$jobs" build_libs >>"$deps_dir/openssl.log" 2>&1
  make install_dev >>"$deps_dir/openssl.log" 2>&1
}

cmake_dep() {
  local dir=$1 name=$2; shift 2
  rm -rf "$dir/_build"
  cmake -S "$dir" -B "$dir/_build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DKVL_DEPS_PREFIX="$prefix" \
    -DCMAKE_INSTALL_PREFIX="$prefix" "$@" >"$deps_dir/$name.log" 2>&1
  cmake --build "$dir/_build" -j"$jobs" >>"$deps_dir/$name.log" 2>&1
  cmake --install "$dir/_build" >>"$deps_dir/$name.log" 2>&1
}

build_curl() {
  cmake_dep "$1" curl -DBUILD_SHARED_LIBS=OFF -DCURL_USE_OPENSSL=ON -DCURL_USE_SCHANNEL=OFF \
    -DHTTP_ONLY=ON -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF -DCURL_DISABLE_LDAP=ON \
    -DUSE_LIBIDN2=OFF -DCURL_ZLIB=OFF -DCURL_USE_LIBSSH2=OFF -DCURL_USE_LIBPSL=OFF \
    -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DUSE_NGHTTP2=OFF -DENABLE_MANUAL=OFF \
    -DOPENSSL_ROOT_DIR="$prefix" -DOPENSSL_USE_STATIC_LIBS=ON
}

build_mbedtls() {
  cmake_dep "$1" mbedtls -DENABLE_TESTING=OFF -DENABLE_PROGRAMS=OFF \
    -DUSE_SHARED_MBEDTLS_LIBRARY=OFF -DUSE_STATIC_MBEDTLS_LIBRARY=ON -DMBEDTLS_FATAL_WARNINGS=OFF
}

build_dep openssl build_openssl
build_dep curl build_curl     # needs OpenSSL in the prefix
build_dep mbedtls build_mbedtls

# A locale for the tests that read the log's "%x-%X" stamp under a user's locale.
step "dependencies ready in $prefix"
