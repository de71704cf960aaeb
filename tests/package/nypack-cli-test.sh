#!/usr/bin/env bash
# nypack from the command line: the golden layout of the shipped package's
# shape, its digest as openssl works it out, a build-extract round trip, and
# one clear message with exit code 1 for every failure.
#   nypack-cli-test.sh WORKDIR COMMAND...
# COMMAND runs nypack: the program itself, or a runner and the program
# (tools/wine-run.sh win64 nypack.exe).
set -u
here=$(cd "$(dirname "$0")" && pwd)
work=$1; shift
tool=("$@")
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
status=0

fail() { echo "FAIL: $*"; status=1; }
run() { "${tool[@]}" "$@" 2>&1 | tr -d '\r'; return "${PIPESTATUS[0]}"; }
expect_error() {  # sets $out
  local what=$1 rc; shift
  out=$(run "$@"); rc=$?
  [ "$rc" -eq 1 ] || fail "$what: exit code $rc, expected 1"
  if [ "$(grep -c . <<<"$out")" -ne 1 ] || [[ $out != nypack:* ]]; then
    fail "$what: expected one 'nypack:' line, got: $out"
  fi
}

bash "$here/make-tree.sh" golden tree || exit 1
run build tree golden.bin || fail "build"
size=$(stat -c %s golden.bin 2>/dev/null)
[ "$size" = 2230795 ] || fail "the package is $size bytes, expected 2230795"
run list golden.bin >list.txt || fail "list"
diff -u "$here/golden-list.txt" list.txt || fail "list differs"

# The digest: SHA-256 over the SHA-256 digests of the package's 1 MiB chunks.
expected=$(split -b 1048576 --filter='openssl dgst -sha256 -binary' golden.bin | openssl dgst -sha256 | sed 's/.*= //')
out=$(run digest golden.bin again.digest) || fail "digest"
[ "$out" = "$expected 1048576 2230795" ] || fail "digest: '$out', expected '$expected 1048576 2230795'"
[ "$(stat -c %s golden.bin.digest 2>/dev/null)" = 48 ] || fail "build wrote no 48-byte golden.bin.digest"
cmp -s golden.bin.digest again.digest || fail "the record build wrote differs from the digest verb's"

run extract golden.bin out || fail "extract"
diff -r tree out || fail "the extracted tree differs"
# A larger file in the way is replaced by exactly the package's bytes.
head -c 100000 /dev/zero >out/PackageFiles/Share/ZorvakMiniDriver.cfg
run extract golden.bin out || fail "extract over an earlier extraction"
diff -r tree out || fail "the tree extracted a second time differs"

head -c 1000 golden.bin >cut.bin
touch plain
mkdir -p colon && printf x >'colon/a:b'
expect_error "missing package" list missing.bin
expect_error "cut package" list cut.bin
expect_error "cut package, extract" extract cut.bin cutout
expect_error "cut package, digest" digest cut.bin
[ ! -e cutout ] || fail "a malformed package created its target folder"
expect_error "package is a folder" list tree
expect_error "missing folder" build nothere x.bin
expect_error "target below a file" extract golden.bin plain/sub
expect_error "package below a file" build tree plain/x.bin
expect_error "package inside its own tree" build tree tree/self.bin
expect_error "a name with a colon" build colon colon.bin
[ ! -e colon.bin ] && [ ! -e colon.bin.digest ] || fail "a failed build left its output"
# Device names, a file's or a folder's, are refused before they are opened.
mkdir -p devfile/docs devfolder/Aux && printf x >devfile/docs/com1.TXT && printf x >devfolder/Aux/a.txt
expect_error "a device name" build devfile devfile.bin
[[ $out == *com1.TXT*"device name"* ]] || fail "a device name: the message does not say so: $out"
expect_error "a device name as a folder" build devfolder devfolder.bin
[ ! -e devfile.bin ] && [ ! -e devfolder.bin ] || fail "a refused build left its output"
run >/dev/null; [ $? -eq 2 ] || fail "no arguments: expected exit code 2"

[ $status -eq 0 ] && echo "nypack command line: all checks passed"
exit $status
