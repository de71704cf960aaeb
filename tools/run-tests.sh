#!/usr/bin/env bash
# Runs every test: host tests (ASan/UBSan, fuzzing), the static checks of
# both Windows builds, the 64-bit build's Windows tests in the x64 prefix,
# and, where this machine can start 32-bit programs, the 32-bit build's
# Windows tests in the 64-bit (WOW64) prefix and in the 32-bit prefix.
# Windows tests get an X display.
#   run-tests.sh HOST_BUILD WIN32_BUILD WIN64_BUILD WINE_ROOT
set -uo pipefail
host=$1 win32=$2 win64=$3 wine_root=$4
. "$(dirname "$0")/wine-env.sh"
status=0
# Probed once; the Windows tests read the answer too (a 64-bit test that
# would need a 32-bit system program checks the failure instead).
if ny_can_run_32bit; then export NY_32BIT=1; else export NY_32BIT=0; fi
# What Wine will really do when a test starts a 32-bit system program: a
# forced NY_32BIT=0 chooses the suites, it cannot stop Wine from starting one.
if ny_kernel_runs_32bit; then export NY_KERNEL_32BIT=1; else export NY_KERNEL_32BIT=0; fi

echo "== host tests"
ctest --test-dir "$host" --output-on-failure -j 2 || status=1

echo "== Windows executables: imports, ASLR, DEP and signatures"
ctest --test-dir "$win32" --output-on-failure -L '^static$' || status=1
ctest --test-dir "$win64" --output-on-failure -L '^static$' || status=1

run_suite() {
  local build=$1 arch=$2
  echo "== Windows tests, $(basename "$build") build, $arch prefix"
  export WINEPREFIX="$wine_root/$arch" WINEDEBUG=-all
  ny_wine_env "$arch"
  # A kept wineserver makes each test start in tens of milliseconds.
  wineserver -p
  NY_WINE_ROOT="$wine_root" xvfb-run -a -s "-screen 0 1024x768x24" \
    ctest --test-dir "$build" --output-on-failure -L "^$arch\$" || status=1
  wineserver -k || true
  wineserver -w || true
}

run_suite "$win64" x64
if [ "$NY_32BIT" = 1 ]; then
  run_suite "$win32" win64
  run_suite "$win32" win32
else
  echo "!! ================================================================="
  echo "!! 32-bit Windows tests skipped: this kernel cannot start 32-bit programs"
  echo "!! (only the 64-bit build was tested under Wine)"
  echo "!! ================================================================="
fi
exit $status
