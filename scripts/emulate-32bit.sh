#!/usr/bin/env bash
# Runs a command as on a machine whose kernel cannot run 32-bit programs and
# hands them to qemu-i386 instead, the slower of the two kinds of machine the
# test command meets. Nothing outside changes: the command runs in a private
# user and mount namespace with its own binfmt_misc instance (Linux 6.7 and
# later), where i386 ELF files are registered to qemu-i386-static.
#
#   scripts/emulate-32bit.sh COMMAND [ARG...]
#   e.g. scripts/emulate-32bit.sh scripts/test.sh
#
# Takes /usr/bin/qemu-i386, which an emulating machine gets from
# scripts/bootstrap.sh (bookworm-backports' qemu-user), else Debian 12's
# qemu-i386-static; KVL_QEMU names another. Where the kernel already hands
# 32-bit programs to qemu, the command runs the same as without this script.
set -euo pipefail
[ "$#" -gt 0 ] || { echo "usage: scripts/emulate-32bit.sh COMMAND [ARG...]" >&2; exit 2; }
# The bootstrap's qemu is /usr/bin/qemu-i386 (its qemu-i386-static, if any,
# is a link to it); Debian 12's own static one has only the -static name.
qemu=${KVL_QEMU:-/usr/bin/qemu-i386}
[ -n "${KVL_QEMU:-}" ] || [ -x "$qemu" ] || qemu=/usr/bin/qemu-i386-static
[ -x "$qemu" ] || { echo "emulate-32bit: $qemu is missing (apt-get install -t bookworm-backports qemu-user)" >&2; exit 2; }

if [ "${KVL_EMULATE_INNER:-}" != 1 ]; then
  KVL_EMULATE_INNER=1 exec unshare --user --map-root-user --mount --propagation private "$0" "$@"
fi
unset KVL_EMULATE_INNER

mnt=/proc/sys/fs/binfmt_misc
mount -t binfmt_misc binfmt_misc "$mnt"
# The magic and mask of an i386 executable or shared object; flag F opens the
# interpreter now, so it is found whatever the program's own root and mounts.
printf '%s' ':kvl-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$qemu"':F' \
  >"$mnt/register"
echo "emulate-32bit: i386 programs run through $qemu ($("$qemu" --version | head -n 1)) in this namespace" >&2
exec "$@"
