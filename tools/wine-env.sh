# Sourced by the scripts that run Windows programs under Wine.
#
# Some kernels cannot start 32-bit Linux programs at all; there only Wine's
# 64-bit loader works, and only for 64-bit programs. /usr/bin/wine always goes
# through the 32-bit loader when wine32 is installed, so 64-bit programs are
# started through /usr/lib/wine/wine64 directly.
NY_WINE32_LOADER=/usr/lib/wine/wine
NY_WINE64_LOADER=/usr/lib/wine/wine64

# mscoree and mshtml would offer to download Mono and Gecko. winemenubuilder
# mirrors every shortcut a program saves into the Linux desktop's menus under
# $HOME, outside the prefix, and a killed run's copy of it may still hold the
# shortcut's folder when the next run removes it.
NY_WINE_OVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

# True when this kernel starts 32-bit programs. The probe runs the 32-bit
# loader under a short timeout, so a kernel that hands 32-bit programs to an
# emulator cannot make it hang.
ny_kernel_runs_32bit() {
  [ -x "$NY_WINE32_LOADER" ] && timeout 5 "$NY_WINE32_LOADER" --version >/dev/null 2>&1
}

# True when the 32-bit build is to be run here: the kernel's answer, unless
# NY_32BIT=0 or 1 forces it (to try the other kind of kernel's path).
ny_can_run_32bit() {
  case "${NY_32BIT:-}" in
    0) return 1 ;;
    1) return 0 ;;
  esac
  ny_kernel_runs_32bit
}

# The loader for a prefix: x64 holds the 64-bit build's tests and is always
# driven by the 64-bit loader; win64 (WOW64) and win32 hold the 32-bit build's.
ny_wine_loader() {
  if [ "$1" = x64 ]; then echo "$NY_WINE64_LOADER"; else echo "$NY_WINE32_LOADER"; fi
}

# Wine starts further processes through WINELOADER: for the x64 prefix that
# must be the 64-bit loader, which cannot hand them to the 32-bit one.
ny_wine_env() {
  if [ "$1" = x64 ]; then export WINELOADER=$NY_WINE64_LOADER; else unset WINELOADER; fi
}

# Creates the prefix DIR of the kind NAME (x64, win64 or win32) once.
ny_make_prefix() {
  local name=$1 prefix=$2 arch=win64
  [ -f "$prefix/.ny-ready" ] && return 0
  [ "$name" = win32 ] && arch=win32
  rm -rf "$prefix"
  mkdir -p "$(dirname "$prefix")"
  echo "prefixes: creating $name prefix"
  if ! (ny_wine_env "$name"
        WINEARCH=$arch WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="$NY_WINE_OVERRIDES" \
          "$(ny_wine_loader "$name")" wineboot -i </dev/null >"$prefix.wineboot.txt" 2>&1); then
    cat "$prefix.wineboot.txt" >&2
    echo "prefixes: wineboot failed for the $name prefix" >&2
    return 1
  fi
  rm -f "$prefix.wineboot.txt"
  WINEPREFIX="$prefix" wineserver -w
  touch "$prefix/.ny-ready"
}
