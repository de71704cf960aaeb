#!/usr/bin/env bash
# Checks the Authenticode signatures of a Windows build with osslsigncode:
# ZorvakSetup.exe, NyLogView.exe and nypack.exe verify, timestamp included;
# a copy of the setup with one payload byte flipped, and one with a byte
# appended after the signature, do not.
#   check-signatures.sh BUILD_DIR NYPACK [CA_FILE]
# NYPACK is the host build's package tool (it lists the package); CA_FILE is
# the root the signer and the timestamp authority chain to (the test
# identity's), else the system's roots.
set -uo pipefail
build=$1 nypack=$2 ca=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
fail() { echo "FAIL: $*"; status=1; }

verify() {
  osslsigncode verify ${ca:+-CAfile "$ca" -TSA-CAfile "$ca"} -in "$1" >"$work/verify.txt" 2>&1
}

for program in ZorvakSetup NyLogView nypack; do
  file="$build/$program.exe"
  if ! verify "$file"; then
    fail "$file does not verify:"
    cat "$work/verify.txt"
  elif ! grep -q "Timestamp Server Signature verification: ok" "$work/verify.txt"; then
    fail "$file has no verified timestamp"
  fi
done

# Where the 64-bit minidriver's bytes stand in the setup: the package is
# found by its bytes (perl is part of every Debian system), the DLL by the
# package's list.
setup="$build/ZorvakSetup.exe" package="$build/wizard/package.bin"
at=$(perl -e 'local $/; open(my $s, "<:raw", $ARGV[0]) or exit 1; open(my $p, "<:raw", $ARGV[1]) or exit 1;
              my ($a, $b) = (<$s>, <$p>); my $i = index($a, $b); print $i if $i >= 0' "$setup" "$package")
entry=$("$nypack" list "$package" | grep -F 'System32(x64)\ZorvakMiniDriver.dll')
if [ -z "$at" ] || [ -z "$entry" ]; then
  fail "the package or its 64-bit DLL cannot be found in $setup"
else
  read -r _ _ dll_size dll_offset <<<"$entry"
  flip=$((at + dll_offset + dll_size / 2))
  cp "$setup" "$work/flipped.exe"
  byte=$(od -An -tu1 -j "$flip" -N 1 "$setup" | tr -d ' ')
  printf "$(printf '\\%03o' $((byte ^ 1)))" | dd of="$work/flipped.exe" bs=1 seek="$flip" conv=notrunc status=none
  cmp -s "$setup" "$work/flipped.exe" && fail "the byte was not flipped"
  verify "$work/flipped.exe" && fail "a copy with a payload byte flipped verifies"
fi
cp "$setup" "$work/appended.exe" && printf 'x' >>"$work/appended.exe"
verify "$work/appended.exe" && fail "a copy with a byte after the signature verifies"

[ $status -eq 0 ] && echo "signatures of $build: all checks passed"
exit $status
