#!/usr/bin/env bash
# Runs every test: host tests (ASan/UBSan, fuzzing), then the Windows tests in
# the 64-bit prefix and in the 32-bit prefix. Windows tests get an X display.
set -uo pipefail
host=$1 win=$2 wine_root=$3
status=0

echo "== host tests"
ctest --test-dir "$host" --output-on-failure -j 2 || status=1

echo "== Windows executables: imports, ASLR and DEP"
ctest --test-dir "$win" --output-on-failure -L '^static$' || status=1

for arch in win64 win32; do
  echo "== Windows tests, $arch prefix"
  export WINEPREFIX="$wine_root/$arch" WINEDEBUG=-all
  # A kept wineserver makes each test start in tens of milliseconds.
  wineserver -p
  xvfb-run -a -s "-screen 0 1024x768x24" \
    ctest --test-dir "$win" --output-on-failure -L "^$arch\$" || status=1
  wineserver -k || true
  wineserver -w || true
done
exit $status
