#!/usr/bin/env bash
# make-signed-packages.sh OUTDIR PKIDIR PACKAGE
#
# The packages of the publisher check, made from PACKAGE (an unsigned .msi)
# by osslsigncode with the test PKI's signing pairs:
#   good.msi          signed by the test publisher
#   good_ex.msi       the same with the extended (metadata) signature stream
#   other.msi         signed by the unrelated publisher
#   expired.msi       signed with the publisher's expired certificate
#   nocodesign.msi    signed with its client-authentication certificate
#   unsigned.msi      PACKAGE itself
#   cut.msi           good.msi cut in the middle
set -euo pipefail

if [[ $# -ne 3 ]]; then
  echo "usage: $0 OUTDIR PKIDIR PACKAGE" >&2
  exit 2
fi
out=$1 pki=$2 package=$3
mkdir -p "$out"
work=$(mktemp -d "$out/.work.XXXXXX")
trap 'rm -rf "$work"' EXIT

sign() { # CERT KEY OUT [EXTRA...]
  local cert=$1 key=$2 target=$3
  shift 3
  if ! osslsigncode sign "$@" -certs "$pki/$cert" -key "$pki/$key" -in "$package" -out "$work/$target" \
    >"$work/log" 2>&1; then
    echo "make-signed-packages: signing $target failed:" >&2
    cat "$work/log" >&2
    exit 1
  fi
}

sign publisher_cert.pem publisher_key.pem good.msi
sign publisher_cert.pem publisher_key.pem good_ex.msi -add-msi-dse
sign other_publisher_cert.pem other_publisher_key.pem other.msi
sign expired_publisher_cert.pem publisher_key.pem expired.msi
sign nocodesign_publisher_cert.pem publisher_key.pem nocodesign.msi
cp "$package" "$work/unsigned.msi"
head -c $(($(stat -c %s "$work/good.msi") / 2)) "$work/good.msi" >"$work/cut.msi"
mv -f "$work"/*.msi "$out/"
