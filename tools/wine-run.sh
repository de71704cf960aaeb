#!/usr/bin/env bash
# Runs a Windows program in one of the project's Wine prefixes.
#   wine-run.sh win64|win32 PROGRAM [ARGS...]
# The program's output goes through a file: Wine's helper processes
# (services, the desktop window) outlive the program and would otherwise keep
# the caller's output pipe open, so a test runner would wait for them forever.
set -uo pipefail
arch=$1; shift
root=${NY_WINE_ROOT:-$(cd "$(dirname "$0")/.." && pwd)/build/win32/wine}
export WINEPREFIX="$root/$arch"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/.ny-ready" ]; then
  echo "wine-run: prefix $WINEPREFIX is missing; run 'make prefixes'" >&2
  exit 2
fi
out=$(mktemp)
trap 'rm -f "$out"' EXIT
wine "$@" </dev/null >"$out" 2>&1
rc=$?
cat "$out"
exit $rc
