#!/usr/bin/env bash
# Runs a Windows program under Wine in the build tree's private prefix.
#
#   wine-run.sh --prefix=DIR [--up | --down | PROGRAM.exe ARGS...]
#
# --up boots the prefix when it is new and keeps its wineserver running
# (`wineserver -p`), so services survive between test programs; --down shuts
# it down. Running a program also brings the prefix up first. Nothing here
# ever touches another prefix.
set -euo pipefail

prefix=
case "${1:-}" in
  --prefix=*) prefix=${1#--prefix=}; shift ;;
esac
if [ -z "$prefix" ]; then
  echo "wine-run.sh: --prefix=DIR is required" >&2
  exit 2
fi

export WINEPREFIX=$prefix
export WINEARCH=${WINEARCH:-win64}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

# Wine's daemons inherit the standard handles of whoever starts them; a test
# runner reading our output would then wait for ever. They get /dev/null.
prefix_up() {
  mkdir -p "$prefix"
  (
    flock 9
    if [ ! -f "$prefix/system.reg" ]; then
      wineboot -i </dev/null >/dev/null 2>&1
      wineserver -w
    fi
    wineserver -p </dev/null >/dev/null 2>&1 || true
    # Start the prefix's system processes (services.exe among them) now, so
    # they do not inherit a test program's handles later.
    wine cmd /c exit </dev/null >/dev/null 2>&1 || true
  ) 9>"$prefix.lock"
}

case "${1:-}" in
  --up)
    prefix_up
    ;;
  --down)
    if [ -d "$prefix" ]; then
      wineserver -k </dev/null >/dev/null 2>&1 || true
      wineserver -w </dev/null >/dev/null 2>&1 || true
    fi
    ;;
  "")
    echo "wine-run.sh: no program given" >&2
    exit 2
    ;;
  *)
    prefix_up
    exec wine "$@"
    ;;
esac
