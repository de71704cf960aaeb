#!/usr/bin/env bash
# Writes the test certificates (DER, self-signed) into OUTDIR: one per key
# kind the certificate actions tell apart, a PEM copy and an empty file.
#   make-certs.sh OUTDIR
set -euo pipefail
out=$1
ssl=${OPENSSL:-openssl}
openssl() { command "$ssl" "$@"; }
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

selfsign() {  # name key [digest option]
  openssl req -new -x509 -key "$work/$2.key" ${3:-} -subj "/CN=Zorvak test $1" -days 3650 \
    -outform DER -out "$out/$1.cer" 2>/dev/null
}

openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$work/rsa.key" 2>/dev/null
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$work/p256.key" 2>/dev/null
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:secp256k1 -out "$work/k256.key" 2>/dev/null
openssl genpkey -algorithm SM2 -out "$work/sm2.key" 2>/dev/null
openssl ecparam -name prime256v1 -param_enc explicit -genkey -noout -out "$work/explicit.key" 2>/dev/null
openssl genpkey -algorithm ED25519 -out "$work/ed25519.key" 2>/dev/null

selfsign rsa rsa -sha256
selfsign rsa2 rsa -sha256   # more certificates over the same key
selfsign rsa3 rsa -sha256
selfsign p256 p256 -sha256
selfsign k256 k256 -sha256
selfsign sm2 sm2 -sm3
selfsign explicit explicit -sha256
selfsign ed25519 ed25519
openssl x509 -inform DER -in "$out/rsa.cer" -outform PEM -out "$out/rsa.pem"
: > "$out/empty.cer"
