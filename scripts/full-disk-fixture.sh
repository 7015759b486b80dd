#!/usr/bin/env bash
# A small file system for the Windows tests to fill up: a tmpfs mounted in
# the build tree and mapped as a drive of the tests' Wine prefix.
#
#   full-disk-fixture.sh mount DIR PREFIX DRIVE
#   full-disk-fixture.sh unmount DIR PREFIX DRIVE
#
# mount puts a tmpfs of 2 MiB on DIR/mnt and links PREFIX/dosdevices/DRIVE
# (e.g. "x:") to it, then writes DIR/status, one line the tests read:
#   "mounted"                  the drive is there
#   "unavailable: REASON"      it could not be mounted, and need not be: the
#                              tests that need it skip with the reason
#   "failed: REASON"           it could not be mounted where it must be: the
#                              tests that need it fail with the reason
# Mounting needs root. As root (the test command and CI run as root) a mount
# that fails counts as a failure; as another user, or with
# KVL_FULL_DISK=optional (root in a container without the right to mount),
# it only makes those tests skip. mount itself always succeeds, so the other
# tests of the same program run either way.
# unmount removes the drive's link and the mount, and only those.
set -euo pipefail

size=2m

usage() {
  echo "usage: $0 mount|unmount DIR PREFIX DRIVE" >&2
  exit 2
}

[ $# -eq 4 ] || usage
action=$1 dir=$2 prefix=$3 drive=$4
case "$drive" in
  [d-y]:) ;;
  *) echo "DRIVE must be one of d: to y: (c: and z: are the prefix's own)" >&2; exit 2 ;;
esac
mnt=$dir/mnt
link=$prefix/dosdevices/$drive

unmount() {
  # The link first, so no Wine process finds the drive while it goes.
  if [ -L "$link" ]; then
    rm -f "$link"
  fi
  if mountpoint -q "$mnt" 2>/dev/null; then
    # A Wine process still holding a file there would keep it busy.
    umount "$mnt" 2>/dev/null || umount -l "$mnt"
  fi
}

case "$action" in
  mount)
    mkdir -p "$dir"
    [ -d "$prefix/dosdevices" ] || { echo "no Wine prefix at $prefix" >&2; exit 1; }
    if [ -e "$link" ] && [ ! -L "$link" ]; then
      echo "$link exists and is not a link: not touching it" >&2
      exit 1
    fi
    # A run cut short leaves its mount behind: start from an empty one.
    unmount
    mkdir -p "$mnt"
    if reason=$(mount -t tmpfs -o "size=$size,mode=0777" kvl-full-disk "$mnt" 2>&1); then
      ln -sfn "$mnt" "$link"
      echo mounted >"$dir/status"
      echo "tmpfs of $size at $mnt is drive $drive"
    else
      reason=$(echo "cannot mount a tmpfs at $mnt (${reason:-no reason given})" | tr '\n' ' ' | sed 's/ *$//')
      if [ "${KVL_FULL_DISK:-}" = optional ] || [ "$(id -u)" -ne 0 ]; then
        echo "unavailable: $reason" >"$dir/status"
      else
        echo "failed: $reason; as root the mount must work (KVL_FULL_DISK=optional makes it a skip)" >"$dir/status"
      fi
      cat "$dir/status"
    fi
    ;;
  unmount)
    unmount
    rm -f "$dir/status"
    echo "drive $drive unmounted"
    ;;
  *)
    usage
    ;;
esac
