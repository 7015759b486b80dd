#!/usr/bin/env bash
# make-pairs.sh OUTDIR: the test PKI plus a client key that opens only with
# another pass phrase than the library's.
set -euo pipefail
out=$1
bash "$(dirname "$0")/../../scripts/make-test-pki.sh" "$out" >/dev/null
if [ ! -s "$out/wrong_phrase_key.pem" ]; then
  openssl pkey -in "$out/client_key.pem" -passin pass:Lantern58 -aes256 -passout pass:Lantern59 \
    -out "$out/wrong_phrase_key.pem.tmp"
  mv "$out/wrong_phrase_key.pem.tmp" "$out/wrong_phrase_key.pem"
fi
