#!/usr/bin/env bash
# Creates the two Wine test prefixes once: win64 (WOW64) and win32.
set -euo pipefail
root=$1
mkdir -p "$root"
for arch in win64 win32; do
  prefix="$root/$arch"
  [ -f "$prefix/.ny-ready" ] && continue
  rm -rf "$prefix"
  echo "prefixes: creating $arch prefix"
  WINEARCH=$arch WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1
  WINEPREFIX="$prefix" wineserver -w
  touch "$prefix/.ny-ready"
done
