#!/usr/bin/env bash
# The main job in one command: sets everything up on a Debian 12 machine (as
# root the first time: the bootstrap installs what is missing), builds what
# the demo runs, then starts the agent for real in a Wine prefix of its own
# against the development update server, with a live view.
#
#   scripts/demo.sh              live view; single keys drive the story
#   scripts/demo.sh --scenario   plays the story alone and checks each step
#
# Each set-up step is skipped in seconds when already done.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
export CCACHE_BASEDIR=$root CCACHE_NOHASHDIR=1

echo "==> bootstrap (Debian packages, cross-built dependencies)"
mkdir -p build
bash scripts/bootstrap.sh >build/demo-bootstrap.log 2>&1 || {
  tail -n 20 build/demo-bootstrap.log >&2
  exit 1
}

build() {
  local preset=$1
  shift
  echo "==> build: $preset"
  cmake --preset "$preset" "$@" >/dev/null
  cmake --build --preset "$preset" -j2 >/dev/null
}
build host
# The demo's own helpers (the VPN stand-ins, svctool) are Windows test
# programs of the 64-bit build; the agent itself runs as shipped (32-bit)
# where this machine runs 32-bit programs natively.
build win64 -DKVL_DEVSERVER="$root/build/host/devserver/kvl-devserver"
if scripts/wine-run.sh --runs-32bit-natively; then
  build windows
fi

exec /usr/bin/python3 scripts/demo.py "$@"
