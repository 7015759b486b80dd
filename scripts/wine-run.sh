#!/usr/bin/env bash
# Runs a Windows program under Wine in the build tree's private prefix.
#
#   wine-run.sh --prefix=DIR [--up | --down | PROGRAM.exe ARGS...]
#   wine-run.sh --can-run-32bit
#
# --up boots the prefix when it is new and keeps its wineserver running
# (`wineserver -p`), so services survive between test programs; --down shuts
# it down. Running a program also brings the prefix up first. Nothing here
# ever touches another prefix.
#
# 32-bit programs (the shipped product) run only where Wine's 32-bit loader
# can start: natively where the kernel executes 32-bit binaries, or through
# qemu-i386 registered with binfmt_misc (scripts/bootstrap.sh sets that up).
# --can-run-32bit answers whether it can, by its exit status. A prefix must be
# created once that works, or it has no 32-bit side.
set -euo pipefail

wine32=/usr/lib/wine/wine
can_run_32bit() { timeout 300 "$wine32" --version >/dev/null 2>&1; }

prefix=
case "${1:-}" in
  --can-run-32bit) can_run_32bit; exit $? ;;
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
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

# Wine's daemons inherit the standard handles of whoever starts them; a test
# runner reading our output would then wait for ever. They get /dev/null.
prefix_up() {
  mkdir -p "$prefix"
  (
    flock 9
    if [ ! -f "$prefix/system.reg" ]; then
      "$wine" wineboot -i </dev/null >/dev/null 2>&1 9>&-
      "$wineserver" -w 9>&-
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
    exec "$wine" "$@"
    ;;
esac
