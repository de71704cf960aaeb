#!/usr/bin/env bash
# Creates the Wine test prefixes once: x64 (the 64-bit build's) always, and
# win64 (WOW64) and win32 (the 32-bit build's) where 32-bit programs can run.
#   wine-prefixes.sh WINE_ROOT
set -euo pipefail
root=$1
. "$(dirname "$0")/wine-env.sh"
ny_make_prefix x64 "$root/x64"
if ny_can_run_32bit; then
  ny_make_prefix win64 "$root/win64"
  ny_make_prefix win32 "$root/win32"
fi
