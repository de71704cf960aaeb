#!/usr/bin/env bash
# Makes a folder tree to pack with nypack. The file contents are text lines
# numbered from the start of the file, so a byte at the wrong place shows.
#   make-tree.sh golden|small|mixed|deep|empty OUTDIR
#   golden: the shape and file sizes of the shipped package
#   small:  the same shape with small files (a fuzzing seed)
#   mixed:  files in the root table, an empty file, nested and empty folders
#   deep:   twenty nested folders with one file at the bottom
set -eu
kind=$1 out=$2

# content TAG SIZE FILE
content() {
  mkdir -p "$(dirname "$3")"
  awk -v t="$1" 'BEGIN { for (i = 0; ; i++) printf "%s %07d\n", t, i }' 2>/dev/null | head -c "$2" >"$3" || true
  [ "$(stat -c %s "$3")" -eq "$2" ]
}

shipped_shape() {  # SCRIPT CFG DLL64 DLL32 sizes
  local p="$out/PackageFiles"
  content script "$1" "$p/SetupScript.xml"
  content NYAR "$2" "$p/Share/ZorvakMiniDriver.cfg"
  content dll64 "$3" "$p/System32(x64)/ZorvakMiniDriver.dll"
  content dll32 "$4" "$p/System32(x86)/ZorvakMiniDriver.dll"
  mkdir -p "$p/Reg" "$p/ProgramFiles(x86)/Zorvak/MiniDriver"
}

rm -rf "$out"
mkdir -p "$out"
case $kind in
  golden) shipped_shape 19663 39429 1207760 963536 ;;
  small) shipped_shape 40 17 5 3 ;;
  mixed)
    content readme 30 "$out/readme.txt"
    content noext 12 "$out/LICENSE"
    content a 0 "$out/docs/empty.txt"
    content b 100 "$out/docs/guide/part one.txt"
    mkdir -p "$out/docs/images" "$out/cache" ;;
  deep)
    d=$out; for i in $(seq 1 20); do d="$d/level$i"; done
    content deep 9 "$d/bottom.bin" ;;
  empty) ;;
  *) echo "make-tree: unknown kind $kind" >&2; exit 2 ;;
esac
