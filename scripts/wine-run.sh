#!/usr/bin/env bash
# Runs a Windows program under Wine in the build tree's private prefix.
#
#   wine-run.sh --prefix=DIR [--up | --down | PROGRAM.exe ARGS...]
#   wine-run.sh --can-run-32bit
#   wine-run.sh --runs-32bit-natively
#
# --up boots the prefix when it is new and keeps its wineserver running
# (`wineserver -p`), so services survive between test programs; --down shuts
# it down. Running a program also brings the prefix up first. Nothing here
# ever touches another prefix.
#
# 32-bit programs (the shipped product) run only where Wine's 32-bit loader
# can start: natively where the kernel executes 32-bit binaries, or through
# qemu-i386 registered with binfmt_misc (scripts/bootstrap.sh sets that up).
# --can-run-32bit answers whether it can, by its exit status;
# --runs-32bit-natively whether it can without emulation (a process start
# then costs milliseconds, not a second, or a minute under Debian 12's own
# qemu). A prefix must be created once that
# works, or it has no 32-bit side.
#
# Under emulation the probe itself is a slow process start, so a caller that
# asks many times (the test command) probes once and exports the answers:
# KVL_CAN_RUN_32BIT and KVL_RUNS_32BIT_NATIVELY, each "yes" or "no".
set -euo pipefail

wine32=/usr/lib/wine/wine
can_run_32bit() {
  case "${KVL_CAN_RUN_32BIT:-}" in
    yes) return 0 ;;
    no) return 1 ;;
  esac
  timeout 300 "$wine32" --version >/dev/null 2>&1
}

# An enabled binfmt_misc entry for i386 ELF programs takes them before the
# kernel's own loader does, so where one exists they are emulated.
i386_emulated() {
  local entry
  for entry in /proc/sys/fs/binfmt_misc/*; do
    [ -f "$entry" ] || continue
    case $entry in */register | */status) continue ;; esac
    head -n 1 "$entry" 2>/dev/null | grep -qx enabled || continue
    grep -qE '^magic 7f454c4601[0-9a-f]{22}02000300' "$entry" 2>/dev/null && return 0
  done
  return 1
}

runs_32bit_natively() {
  case "${KVL_RUNS_32BIT_NATIVELY:-}" in
    yes) return 0 ;;
    no) return 1 ;;
  esac
  can_run_32bit && ! i386_emulated
}

prefix=
case "${1:-}" in
  --can-run-32bit) can_run_32bit; exit $? ;;
  --runs-32bit-natively) runs_32bit_natively; exit $? ;;
  --prefix=*) prefix=${1#--prefix=}; shift ;;
esac
if [ -z "$prefix" ]; then
  echo "wine-run.sh: --prefix=DIR is required" >&2
  exit 2
fi

wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64
export WINEPREFIX=$prefix
export WINEARCH=win64
# Quiet, except for the one error seen to end a program before its first
# instruction now and then: "failed to map the shared user data" (c0000018),
# an address Wine wants taken by the time it asks (this Wine has no preloader
# to reserve it first). The program then ends with status 1 and no output.
export WINEDEBUG=${WINEDEBUG:--all,err+virtual}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

# A freshly booted prefix is kept once per machine, beside the cross-built
# dependencies, and copied for every later prefix: where 32-bit programs are
# emulated a boot takes minutes (wineboot sets up the 32-bit side too), a copy
# seconds. Nothing in a booted prefix names the folder it lies in. Keyed on
# Wine's version and on whether the prefix has its 32-bit side.
template_dir() {
  local side=no32
  can_run_32bit && side=with32
  printf '%s/wine-prefix/%s-%s\n' "${KVL_DEPS_DIR:-/var/cache/kvl-deps}" "$("$wine" --version 2>/dev/null | tr -c 'A-Za-z0-9.\n' _)" "$side"
}

new_prefix() {
  local template scratch
  template=$(template_dir)
  if [ -f "$template/system.reg" ] && cp -a "$template/." "$prefix/" 2>/dev/null; then
    return 0
  fi
  rm -rf "$prefix" && mkdir -p "$prefix"
  "$wine" wineboot -i </dev/null >/dev/null 2>&1
  "$wineserver" -w
  # Kept only when whole: copied under a scratch name, then renamed.
  if [ -f "$prefix/system.reg" ] && mkdir -p "$(dirname "$template")" 2>/dev/null; then
    scratch="$template.$$"
    if cp -a "$prefix/." "$scratch/" 2>/dev/null && mv -T "$scratch" "$template" 2>/dev/null; then
      :
    else
      rm -rf "$scratch"
    fi
  fi
  return 0
}

# Wine's daemons inherit the standard handles of whoever starts them; a test
# runner reading our output would then wait for ever. They get /dev/null.
prefix_up() {
  mkdir -p "$prefix"
  (
    flock 9
    if [ ! -f "$prefix/system.reg" ]; then
      new_prefix 9>&-
    fi
    "$wineserver" -p </dev/null >/dev/null 2>&1 9>&- || true
    # Start the prefix's system processes (services.exe among them) now, so
    # they do not inherit a test program's handles later.
    "$wine" cmd /c exit </dev/null >/dev/null 2>&1 9>&- || true
  ) 9>"$prefix.lock"
}

# Prints the PE machine field of a program as four hex digits (014c: i386).
pe_machine() {
  [ -f "$1" ] || return 0
  local offset
  offset=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
  [ -n "$offset" ] || return 0
  od -An -tx2 -j$((offset + 4)) -N2 "$1" 2>/dev/null | tr -d ' '
}

case "${1:-}" in
  --up)
    prefix_up
    ;;
  --down)
    if [ -d "$prefix" ]; then
      "$wineserver" -k </dev/null >/dev/null 2>&1 || true
      "$wineserver" -w </dev/null >/dev/null 2>&1 || true
    fi
    ;;
  "")
    echo "wine-run.sh: no program given" >&2
    exit 2
    ;;
  *)
    if [ "$(pe_machine "$1")" = 014c ] && ! can_run_32bit; then
      echo "wine-run.sh: $1 is a 32-bit program, which cannot run on this machine; use the win64 build" >&2
      exit 126
    fi
    prefix_up
    # Not exec'd: a program that fails before it writes anything (seen once,
    # in 0.16 s, with no output at all) must at least leave its status. A
    # signal meant for us goes on to the program.
    "$wine" "$@" &
    child=$!
    trap 'kill -TERM "$child" 2>/dev/null' TERM INT HUP
    status=0
    wait "$child" || status=$?
    # A trapped signal ends the first wait early; the program's own status
    # comes from the second.
    if kill -0 "$child" 2>/dev/null; then
      status=0
      wait "$child" || status=$?
    fi
    if [ "$status" -ne 0 ]; then
      echo "wine-run.sh: ${1##*[/\\]} ended with status $status" >&2
    fi
    exit "$status"
    ;;
esac
