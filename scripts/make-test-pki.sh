#!/usr/bin/env bash
# make-test-pki.sh OUTDIR
#
# Makes the throw-away PKI that the development update server and the tests
# use: a CA, a server certificate for localhost/127.0.0.1, a client
# certificate whose key is encrypted with the library's fixed pass phrase
# (in OpenSSL 3's default PKCS#8 form and in the traditional PEM form), and a
# second client pair signed by an unrelated CA for "wrong client key" tests.
# A provider may ship only its intermediate CA: intermediate_ca.pem is signed
# by the CA, and chained_server_cert.pem is the server's certificate (same
# key, same names) signed by the intermediate, followed by the intermediate
# and the CA, as a server configured with its full chain sends it.
# Package signing: publisher_cert.pem (code-signing, issued by the CA) with
# its unencrypted publisher_key.pem, as a build signs with them; and, for
# refusals, other_publisher_cert.pem/_key.pem under the unrelated CA, and two
# certificates of the same key under the CA that must not sign a package:
# expired_publisher_cert.pem (its validity ended a day before it began) and
# nocodesign_publisher_cert.pem (client authentication only).
#
# Idempotent: when OUTDIR already holds every file, nothing is done. Several
# runs at once (parallel test processes) serialise on a lock file, and the
# files are produced in a scratch folder first, so OUTDIR never holds a
# certificate from one run beside a key from another.
set -euo pipefail

if [[ $# -ne 1 || "$1" == "-h" || "$1" == "--help" ]]; then
  echo "usage: $0 OUTDIR" >&2
  exit 2
fi

OUTDIR=$1
PASS=Lantern58
DAYS=3650
BITS=2048

FILES=(
  ca.pem ca.key
  server_cert.pem server_key.pem misnamed_server_cert.pem
  client_cert.pem client_key.pem client_key_traditional.pem
  other_ca.pem other_ca.key
  other_client_cert.pem other_client_key.pem
  intermediate_ca.pem intermediate_ca.key chained_server_cert.pem
  publisher_cert.pem publisher_key.pem
  other_publisher_cert.pem other_publisher_key.pem
  expired_publisher_cert.pem nocodesign_publisher_cert.pem
)

complete() {
  local f
  for f in "${FILES[@]}"; do
    [[ -s "$OUTDIR/$f" ]] || return 1
  done
  return 0
}

mkdir -p "$OUTDIR"
# Absolute, since the work below happens in a scratch folder.
OUTDIR=$(cd "$OUTDIR" && pwd)
exec 9>"$OUTDIR/.make-test-pki.lock"
flock 9

if complete; then
  exit 0
fi

WORK=$(mktemp -d "$OUTDIR/.work.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"

openssl_quiet() {
  local out
  if ! out=$(openssl "$@" 2>&1); then
    echo "make-test-pki: openssl $1 failed:" >&2
    echo "$out" >&2
    exit 1
  fi
}

# new_ca NAME CN
new_ca() {
  openssl_quiet genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:$BITS -out "$1.key"
  openssl_quiet req -x509 -new -key "$1.key" -sha256 -days $DAYS \
    -subj "/O=Pelmora Test/CN=$2" \
    -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" \
    -out "$1.pem"
}

# sign CA KEYFILE KEYPASS SUBJECT EXTFILE OUTCERT [DAYS]
sign() {
  local passin=()
  [[ -n "$3" ]] && passin=(-passin "pass:$3")
  openssl_quiet req -new -key "$2" "${passin[@]}" -subj "$4" -out req.csr
  openssl_quiet x509 -req -in req.csr -CA "$1.pem" -CAkey "$1.key" \
    -set_serial "0x$(openssl rand -hex 8)" -sha256 -days "${7:-$DAYS}" \
    -extfile "$5" -out "$6"
  rm -f req.csr
}

cat > server.ext <<'EOF'
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature,keyEncipherment
extendedKeyUsage=serverAuth
subjectAltName=DNS:localhost,IP:127.0.0.1
EOF
cat > misnamed.ext <<'EOF'
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature,keyEncipherment
extendedKeyUsage=serverAuth
subjectAltName=DNS:update.invalid
EOF
cat > intermediate.ext <<'EOF'
basicConstraints=critical,CA:TRUE,pathlen:0
keyUsage=critical,keyCertSign,cRLSign
EOF
cat > client.ext <<'EOF'
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature,keyEncipherment
extendedKeyUsage=clientAuth
EOF

new_ca ca "KVL Test CA"
new_ca other_ca "KVL Other Test CA"

openssl_quiet genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:$BITS -out server_key.pem
sign ca server_key.pem "" "/O=Pelmora Test/CN=localhost" server.ext server_cert.pem
# Signed by the same CA for another host: only the host-name check refuses it.
sign ca server_key.pem "" "/O=Pelmora Test/CN=update.invalid" misnamed.ext misnamed_server_cert.pem

openssl_quiet genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:$BITS -out intermediate_ca.key
sign ca intermediate_ca.key "" "/O=Pelmora Test/CN=KVL Test Intermediate CA" intermediate.ext intermediate_ca.pem
sign intermediate_ca server_key.pem "" "/O=Pelmora Test/CN=localhost" server.ext chained_leaf.pem
cat chained_leaf.pem intermediate_ca.pem ca.pem >chained_server_cert.pem

# OpenSSL 3 writes an encrypted PKCS#8 key with AES-256-CBC and
# PBKDF2-HMAC-SHA256 by default; the traditional form carries the
# "Proc-Type: 4,ENCRYPTED" header that older TLS stacks want.
openssl_quiet genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:$BITS \
  -aes-256-cbc -pass "pass:$PASS" -out client_key.pem
openssl_quiet rsa -in client_key.pem -passin "pass:$PASS" -aes256 -traditional \
  -passout "pass:$PASS" -out client_key_traditional.pem
sign ca client_key.pem "$PASS" "/O=Pelmora Test/CN=kvl-test-client" client.ext client_cert.pem

openssl_quiet genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:$BITS \
  -aes-256-cbc -pass "pass:$PASS" -out other_client_key.pem
sign other_ca other_client_key.pem "$PASS" "/O=Somebody Else/CN=kvl-other-client" client.ext other_client_cert.pem

cat > codesign.ext <<'EOF'
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=codeSigning
EOF
openssl_quiet genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:$BITS -out publisher_key.pem
sign ca publisher_key.pem "" "/O=Pelmora Test/CN=KVL Test Publisher" codesign.ext publisher_cert.pem
# A negative day count puts the end of validity before its start: expired.
sign ca publisher_key.pem "" "/O=Pelmora Test/CN=KVL Test Publisher" codesign.ext expired_publisher_cert.pem -1
sign ca publisher_key.pem "" "/O=Pelmora Test/CN=KVL Test Publisher" client.ext nocodesign_publisher_cert.pem
openssl_quiet genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:$BITS -out other_publisher_key.pem
sign other_ca other_publisher_key.pem "" "/O=Somebody Else/CN=Other Publisher" codesign.ext other_publisher_cert.pem

chmod 600 ./*.key ./*key*.pem
for f in "${FILES[@]}"; do
  mv -f "$f" "$OUTDIR/$f"
done
echo "make-test-pki: test PKI written to $OUTDIR"
