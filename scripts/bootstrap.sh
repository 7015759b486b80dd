#!/usr/bin/env bash
# Installs everything the build and the tests need on a Debian 12 machine:
# Debian packages (the MinGW cross compiler, Wine, jsmn, GoogleTest, the
# devserver's libraries, Google Benchmark and the curl tool for bench/) and
# cross builds of OpenSSL, curl and mbed TLS for 32-bit Windows, made from
# Debian's own source packages.
#
# The product is 32-bit; the Windows tests run a 64-bit build of the same
# sources, because this machine's kernel does not execute 32-bit programs
# (Wine's 32-bit loader among them). So every dependency is built for both.
#
# Idempotent: each dependency leaves a stamp naming its target, its version
# and a digest of how it is built (the build function's text, its options and
# source edits among them), and a run with every stamp present only checks
# them. A changed recipe changes the digest, so a warm cache is rebuilt
# instead of keeping libraries made with the old options.
#
#   KVL_DEPS_DIR   cache and install prefixes of the cross builds
#                  (default: /var/cache/kvl-deps, outside the clone so a warm
#                  machine reuses it): mingw32/ for i686, mingw64/ for x86_64
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
deps_dir=${KVL_DEPS_DIR:-/var/cache/kvl-deps}
src_dir="$deps_dir/src"
stamps="$deps_dir/stamps"
jobs=$(nproc 2>/dev/null || echo 2)

# One bootstrap at a time per cache: clones on the same machine share it, and
# two builds into one prefix would corrupt it.
mkdir -p "$deps_dir"
exec 9>"$deps_dir/.lock"
flock 9

packages=(
  build-essential cmake ninja-build pkg-config dpkg-dev
  g++-mingw-w64-i686-posix mingw-w64-i686-dev mingw-w64-tools binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64
  wine wine32:i386 wine64 wixl msitools osslsigncode
  libjsmn-dev googletest
  libmbedtls-dev libcurl4-openssl-dev libssl-dev openssl
  libcpp-httplib-dev nlohmann-json3-dev
  clang libclang-rt-14-dev
  python3-rich libbenchmark-dev curl
  locales
  ccache
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
# A mirror in the middle of a sync fails one index now and then ("File has
# unexpected size"): try again, and go on with what was fetched after the
# last try, since the install below fails by itself if a package is missing.
apt_update() {
  step "apt-get update"
  for try in 1 2 3 4; do
    apt-get update -q && break
    [ "$try" -lt 4 ] || { echo "bootstrap: apt-get update still fails; going on with the lists it has" >&2; break; }
    sleep $((try * 10))
  done
}
if [ "${apt_stale:-0}" = 1 ]; then
  apt_update
fi
if [ "${#missing[@]}" -gt 0 ]; then
  step "installing ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# --- the locale of the Portuguese UI language case ---------------------------
# Wine takes a program's UI language from the locale it starts in; the tray
# tests start one in pt_BR.UTF-8 (UI language 1046).
if ! locale -a 2>/dev/null | grep -qix 'pt_BR.utf8'; then
  need_root "the locale pt_BR.UTF-8 is missing" "localedef -i pt_BR -f UTF-8 pt_BR.UTF-8"
  step "making the locale pt_BR.UTF-8"
  localedef -i pt_BR -f UTF-8 pt_BR.UTF-8
fi

# --- cross builds from Debian source packages --------------------------------
mkdir -p "$src_dir" "$stamps"

source_version() {
  apt-cache showsrc --only-source "$1" 2>/dev/null | awk '/^Version:/ {print $2; exit}'
}

# Downloads and unpacks a Debian source package once; prints its directory.
fetch_source() {
  local pkg=$1 ver=$2 upstream
  upstream=${ver#*:}; upstream=${upstream%-*}
  if ! ls "$src_dir/${pkg}_${upstream}"*.dsc >/dev/null 2>&1; then
    (cd "$src_dir" && apt-get source -q --download-only "$pkg=$ver" >&2)
  fi
  printf '%s\n' "$(ls "$src_dir/${pkg}_${upstream}"*.dsc | head -n1)"
}

# Unpacks a fresh copy of the source for one target; prints its directory.
unpack_source() {
  local dsc=$1 dir=$2
  rm -rf "$dir"
  mkdir -p "$(dirname "$dir")"
  dpkg-source --no-check -x "$dsc" "$dir" >/dev/null || return 1
  printf '%s\n' "$dir"
}

# A digest of everything that decides how a dependency is built: its build
# function (options and source edits), the shared CMake step, and the digest
# of what it builds on. Part of the stamp's name.
recipe_digest() {
  local fn=$1
  { declare -f "$fn" cmake_dep; printf '%s\n' "${@:2}"; } | sha256sum | cut -c1-16
}

build_dep() {
  local pkg=$1 fn=$2 ver dsc dir key
  ver=$(source_version "$pkg")
  if [ -z "$ver" ]; then
    echo "bootstrap: no source package '$pkg' found (is the deb-src entry in place and apt-get update done?)" >&2
    exit 1
  fi
  key=$(recipe_digest "$fn" "${@:3}")
  built_key=$key
  if [ -f "$stamps/$arch-$pkg-$ver-$key" ]; then
    step "$pkg $ver for $arch: already built"
    return
  fi
  [ "$(id -u)" -eq 0 ] || [ -w "$deps_dir" ] || need_root "cannot write $deps_dir" "mkdir -p $deps_dir && chown $(id -un) $deps_dir"
  step "$pkg $ver for $arch: fetching source"
  dsc=$(fetch_source "$pkg" "$ver") || { echo "bootstrap: cannot fetch the source of $pkg" >&2; exit 1; }
  dir=$(unpack_source "$dsc" "$src_dir/$arch/$pkg") || { echo "bootstrap: cannot unpack $dsc" >&2; exit 1; }
  step "$pkg $ver for $arch: building into $prefix"
  local start=$SECONDS
  ( "$fn" "$dir" ) || { echo "bootstrap: building $pkg for $arch failed; see $deps_dir/$arch-$pkg.log" >&2; exit 1; }
  rm -rf "$dir"
  rm -f "$stamps/$arch-$pkg"-*
  touch "$stamps/$arch-$pkg-$ver-$key"
  step "$pkg $ver for $arch: done in $((SECONDS - start)) s"
}

# Replaces one exact text in a source file and fails when it is not there,
# so a new upstream version cannot silently drop the edit.
edit_source() {
  local file=$1 from=$2 to=$3
  grep -qF "$from" "$file" || { echo "bootstrap: '$from' not found in $file" >&2; return 1; }
  FROM=$from TO=$to perl -0pi -e 's/\Q$ENV{FROM}\E/$ENV{TO}/g' "$file"
}

build_openssl() {
  cd "$1"
  # Debian's pic patch makes the x86 assembly address ELF's global offset
  # table, which Windows objects cannot express: build without it.
  if patch -R -p1 --dry-run -s -f < debian/patches/pic.patch >/dev/null 2>&1; then
    patch -R -p1 -s -f < debian/patches/pic.patch
  fi
  # The capability mask from the environment would let whoever sets it pick
  # instructions the processor lacks: the library reads no environment.
  edit_source crypto/cpuid.c 'ossl_getenv("OPENSSL_ia32cap")' 'NULL'
  # no-dso: nothing (a provider or engine named by a configuration file or
  # the environment) can ever be loaded as a DLL.
  ./Configure "$openssl_target" no-shared no-tests no-engine no-module no-dso \
    --cross-compile-prefix="$triple-" --prefix="$prefix" --libdir=lib \
    CC=gcc-posix CXX=g++-posix >"$deps_dir/$arch-openssl.log" 2>&1
  # The directories OpenSSL would look in for its configuration, engines and
  # modules are compiled in. Left alone they name this machine's prefix, and
  # on Windows a path that begins with "/" lies on the current drive, in a
  # folder any user may create. \\.\NUL names no folder anyone can create.
  # (Make hands the value to the shell inside double quotes, and the compiler
  # reads it as a C string: each backslash is written four times.)
  local nowhere='\\\\\\\\.\\\\NUL\\\\'
  make -j"$jobs" build_libs OPENSSLDIR="${nowhere}openssl" ENGINESDIR="${nowhere}engines" \
    MODULESDIR="${nowhere}modules" >>"$deps_dir/$arch-openssl.log" 2>&1
  make install_dev >>"$deps_dir/$arch-openssl.log" 2>&1
}

cmake_dep() {
  local dir=$1 name=$2; shift 2
  cmake -S "$dir" -B "$dir/_build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DKVL_DEPS_PREFIX="$prefix" \
    -DCMAKE_INSTALL_PREFIX="$prefix" "$@" >"$deps_dir/$arch-$name.log" 2>&1
  cmake --build "$dir/_build" -j"$jobs" >>"$deps_dir/$arch-$name.log" 2>&1
  cmake --install "$dir/_build" >>"$deps_dir/$arch-$name.log" 2>&1
}

build_curl() {
  # libcurl opens the file that SSLKEYLOGFILE names and writes every session's
  # secrets to it; no build option turns that off.
  edit_source "$1/lib/vtls/keylog.c" 'curl_getenv("SSLKEYLOGFILE")' 'NULL'
  # No proxy support at all (so no proxy variable is read), no CA bundle or
  # folder of the build machine, and OpenSSL's configuration never asked for.
  # OpenSSL's allocation macros carry the caller's file name: the source
  # folder's name, not this machine's path to it, goes into the binaries.
  cmake_dep "$1" curl -DCMAKE_C_FLAGS="-ffile-prefix-map=$1=curl" -DBUILD_SHARED_LIBS=OFF -DCURL_USE_OPENSSL=ON -DCURL_USE_SCHANNEL=OFF \
    -DHTTP_ONLY=ON -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF -DCURL_DISABLE_LDAP=ON \
    -DUSE_LIBIDN2=OFF -DCURL_ZLIB=OFF -DCURL_USE_LIBSSH2=OFF -DCURL_USE_LIBPSL=OFF \
    -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DUSE_NGHTTP2=OFF -DENABLE_MANUAL=OFF \
    -DCURL_DISABLE_PROXY=ON -DCURL_DISABLE_OPENSSL_AUTO_LOAD_CONFIG=ON \
    -DCURL_CA_BUNDLE=none -DCURL_CA_PATH=none -DCURL_CA_FALLBACK=OFF \
    -DOPENSSL_ROOT_DIR="$prefix" -DOPENSSL_USE_STATIC_LIBS=ON
}

build_mbedtls() {
  cmake_dep "$1" mbedtls -DENABLE_TESTING=OFF -DENABLE_PROGRAMS=OFF \
    -DUSE_SHARED_MBEDTLS_LIBRARY=OFF -DUSE_STATIC_MBEDTLS_LIBRARY=ON -DMBEDTLS_FATAL_WARNINGS=OFF
}

for arch in i686 x86_64; do
  case $arch in
    i686)   prefix="$deps_dir/mingw32"; openssl_target=mingw ;;
    x86_64) prefix="$deps_dir/mingw64"; openssl_target=mingw64 ;;
  esac
  triple="$arch-w64-mingw32"
  toolchain="$here/cmake/mingw-$arch.cmake"
  mkdir -p "$prefix"
  build_dep openssl build_openssl
  build_dep curl build_curl "$built_key"    # needs OpenSSL in the prefix
  build_dep mbedtls build_mbedtls
done

step "dependencies ready in $deps_dir"

# --- 32-bit programs (the shipped product) -----------------------------------
# The product tier runs the shipped 32-bit binaries under Wine's 32-bit
# loader. Some kernels of this machine kind execute 32-bit programs, others
# refuse them; there, qemu-i386 registered with binfmt_misc runs the loader.
# Never fatal: without it the product tier says it is skipped and why.
wine32=/usr/lib/wine/wine
binfmt=/proc/sys/fs/binfmt_misc
binfmt_entry=kvl-i386
i386_magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
i386_mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
runs_32bit() { timeout 300 "$wine32" --version >/dev/null 2>&1; }

# Debian 12's own qemu (7.2) needs about a minute for each Wine process start
# and now and then kills the process at a thread's exit ("wine client error:
# write: Bad file descriptor", then "uncaught target signal 11"): the 32-bit
# service then never reports its stop. The qemu of bookworm-backports (10)
# starts one in about a second and showed neither, so that one is installed.
# Only qemu-user (static programs) comes from backports: apt gives that suite
# a low priority, so every other package stays on bookworm.
bpo_list=/etc/apt/sources.list.d/kvl-bookworm-backports.sources
qemu_major() { "$1" --version 2>/dev/null | sed -n '1s/^qemu-[a-z0-9_]* version \([0-9]*\).*/\1/p'; }
recent_qemu() { [ "$(qemu_major /usr/bin/qemu-i386)" -ge 9 ] 2>/dev/null; }
install_qemu() {
  if [ ! -f "$bpo_list" ]; then
    local mirror
    mirror=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1)
    printf 'Types: deb\nURIs: %s\nSuites: bookworm-backports\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
      "${mirror:-http://deb.debian.org/debian}" >"$bpo_list"
  fi
  apt_update
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends -t bookworm-backports qemu-user &&
    return 0
  echo "bootstrap: qemu from bookworm-backports could not be installed; Debian 12's own (slow, and its 32-bit service stops hang at times)" >&2
  dpkg-query -W -f='${Status}\n' qemu-user-static 2>/dev/null | grep -q '^install ok installed$' ||
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends qemu-user-static ||
    echo "bootstrap: qemu-user-static could not be installed" >&2
}

# wine-run.sh tells whether they run natively or through an emulator.
if KVL_CAN_RUN_32BIT= KVL_RUNS_32BIT_NATIVELY= "$here/scripts/wine-run.sh" --runs-32bit-natively; then
  step "32-bit programs run on this machine"
elif [ "$(id -u)" -ne 0 ]; then
  runs_32bit && recent_qemu ||
    echo "bootstrap: 32-bit programs do not run here, or only through an old qemu; as root this script would set up qemu-i386 from bookworm-backports" >&2
else
  step "32-bit programs are emulated here: qemu-i386 through binfmt_misc"
  replaced=no
  if ! recent_qemu; then
    install_qemu
    replaced=yes
  fi
  qemu=/usr/bin/qemu-i386-static
  recent_qemu && qemu=/usr/bin/qemu-i386
  if [ ! -e "$binfmt/register" ]; then
    timeout 30 mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null ||
      echo "bootstrap: this kernel offers no binfmt_misc; the product tier will be skipped" >&2
  fi
  # F pins the file an entry was made with: ours, made before qemu was
  # replaced or with another interpreter, still runs the old one, so it is
  # made again.
  if [ -e "$binfmt/$binfmt_entry" ] &&
    { [ "$replaced" = yes ] || ! grep -qx "interpreter $qemu" "$binfmt/$binfmt_entry"; }; then
    echo -1 >"$binfmt/$binfmt_entry" 2>/dev/null || echo "bootstrap: the old $binfmt_entry entry could not be removed" >&2
  fi
  if [ -e "$binfmt/register" ] && [ -x "$qemu" ] && [ ! -e "$binfmt/$binfmt_entry" ]; then
    # F: the kernel opens the interpreter now, so it works in every prefix
    # and mount namespace later. The newest entry is the one the kernel
    # tries first, ahead of any the machine had.
    printf '%s' ":$binfmt_entry:M::$i386_magic:$i386_mask:$qemu:F" >"$binfmt/register" ||
      echo "bootstrap: registering qemu-i386 failed" >&2
  fi
  if runs_32bit; then
    step "32-bit programs run through $qemu (qemu $(qemu_major "$qemu"))"
  else
    echo "bootstrap: 32-bit programs still do not run; the product tier will be skipped" >&2
  fi
fi
