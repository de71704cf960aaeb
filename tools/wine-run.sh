#!/usr/bin/env bash
# Runs a Windows program in one of the project's Wine prefixes.
#   wine-run.sh x64|win64|win32 PROGRAM [ARGS...]
# The program's output goes through a file: Wine's helper processes
# (services, the desktop window) outlive the program and would otherwise keep
# the caller's output pipe open, so a test runner would wait for them forever.
set -uo pipefail
arch=$1; shift
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-env.sh"
root=${NY_WINE_ROOT:-$(cd "$here/.." && pwd)/build/wine}
export WINEPREFIX="$root/$arch"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="$NY_WINE_OVERRIDES"
loader=$(ny_wine_loader "$arch")
ny_wine_env "$arch"
if [ ! -f "$WINEPREFIX/.ny-ready" ]; then
  echo "wine-run: prefix $WINEPREFIX is missing; run 'make prefixes'" >&2
  exit 2
fi
out=$(mktemp)
trap 'rm -f "$out"' EXIT
"$loader" "$@" </dev/null >"$out" 2>&1
rc=$?
cat "$out"
exit $rc
