#!/usr/bin/env bash
# Authenticode signing of the shipped programs, with osslsigncode.
#   sign.sh identity DIR              a throw-away test CA, code-signing certificate and
#                                     timestamp authority in DIR, made once with openssl
#   sign.sh sign FILE DESC OPTION...  signs FILE in place: SHA-256, description DESC,
#                                     a timestamp when the options give one
#   sign.sh thumbprint OPTION...      the signing certificate's SHA-1 thumbprint
# OPTIONs name the signer as osslsigncode takes it:
#   -pkcs12 FILE [-readpass FILE]                       a certificate with its key
#   -pkcs11module LIB -key URI -certs FILE [-readpass]  a key in a hardware token
# and the timestamp: -ts URL (an RFC 3161 server), or -TSA-certs FILE -TSA-key
# FILE (osslsigncode answers for the test authority itself: no network).
set -euo pipefail

die() { echo "sign.sh: $*" >&2; exit 1; }

# The test identity: a root CA that issues the code-signing certificate and
# the timestamp authority's certificate. Made in a scratch folder and moved
# into place whole, so a half-made identity is never used.
make_identity() {
  local dir=$1 work
  [ -f "$dir/ready" ] && return 0
  mkdir -p "$dir"
  work=$(mktemp -d "$dir/.new.XXXXXX")
  (
    cd "$work"
    local days=3650
    openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days $days -sha256 \
      -subj "/O=Zorvak (test)/CN=Zorvak Test Root CA" \
      -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"
    issue() {  # NAME SUBJECT-CN EXTENDED-KEY-USAGE
      openssl req -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "/O=Zorvak (test)/CN=$2"
      printf 'basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=%s\n' "$3" >"$1.ext"
      openssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -set_serial "0x$(openssl rand -hex 8)" -days $days \
        -sha256 -extfile "$1.ext" -out "$1.pem"
    }
    issue signer "Zorvak Test Code Signing" codeSigning
    issue tsa "Zorvak Test Timestamp Authority" critical,timeStamping
    cat tsa.pem ca.pem >tsa-chain.pem
    openssl rand -hex 16 >pass.txt
    openssl pkcs12 -export -in signer.pem -inkey signer.key -certfile ca.pem -passout file:pass.txt -out signer.pfx
    rm -f ./*.csr ./*.ext
  ) >"$work/openssl.log" 2>&1 || { cat "$work/openssl.log" >&2; rm -rf "$work"; die "openssl could not make the test identity"; }
  rm -f "$work/openssl.log"
  mv "$work"/* "$dir"/
  rm -rf "$work"
  touch "$dir/ready"
  echo "sign.sh: made the test signing identity in $dir"
}

# The signing certificate, in PEM, from the signer options.
signer_certificate() {
  local pfx="" pass="" certs=""
  while [ $# -gt 0 ]; do
    case $1 in
      -pkcs12) pfx=$2; shift ;;
      -readpass) pass=$2; shift ;;
      -certs) certs=$2; shift ;;
    esac
    shift
  done
  if [ -n "$pfx" ]; then
    local passin="pass:"
    [ -n "$pass" ] && passin="file:$pass"
    openssl pkcs12 -in "$pfx" -nokeys -clcerts -passin "$passin"
  elif [ -n "$certs" ]; then
    cat "$certs"
  else
    die "no signer given (-pkcs12 or -certs)"
  fi
}

sign_file() {
  local file=$1 description=$2 out log
  shift 2
  [ -f "$file" ] || die "$file: no such file"
  out="$file.signing"
  log="$file.signing.log"
  # The build signs a program right after linking it; a signature already
  # in place means something wrote the file after it was signed.
  if osslsigncode extract-signature -in "$file" -out "$out" >"$log" 2>&1; then
    rm -f "$out" "$log"
    die "$file is signed already"
  fi
  rm -f "$out"
  if ! osslsigncode sign -h sha256 -n "$description" "$@" -in "$file" -out "$out" >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$out" "$log"
    die "signing $file failed"
  fi
  chmod --reference="$file" "$out"
  mv -f "$out" "$file"
  rm -f "$log"
}

command=${1:-}
shift || true
case $command in
  identity) [ $# -eq 1 ] || die "usage: sign.sh identity DIR"; make_identity "$1" ;;
  sign) [ $# -ge 3 ] || die "usage: sign.sh sign FILE DESCRIPTION OPTION..."; sign_file "$@" ;;
  thumbprint) signer_certificate "$@" | openssl x509 -noout -fingerprint -sha1 | sed 's/.*=//; s/://g' ;;
  *) die "usage: sign.sh identity DIR | sign FILE DESCRIPTION OPTION... | thumbprint OPTION..." ;;
esac
