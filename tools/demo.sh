#!/usr/bin/env bash
# Runs the shipped installer for real in a throwaway 64-bit Wine prefix, shows
# what it installed, uninstalls it again and checks that nothing is left.
#   demo.sh WIN32_BUILD_DIR WIN64_BUILD_DIR [--gui]
# The 32-bit installer (the one shipped) runs where this machine can start
# 32-bit programs; elsewhere the 64-bit one does, and the demo says which.
# Without --gui everything runs silently on a private X server (xvfb-run);
# with --gui the wizard shows on $DISPLAY and you click through it yourself.
# Exits 0 only when the install succeeded, everything expected was there, and
# the uninstall removed all of it.
set -euo pipefail

usage() { echo "usage: $0 WIN32_BUILD_DIR WIN64_BUILD_DIR [--gui]" >&2; exit 2; }
[ $# -ge 2 ] || usage
win32=$1 win64=$2; shift 2
gui=0
for arg in "$@"; do
  case $arg in
    --gui) gui=1 ;;
    *) usage ;;
  esac
done

root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/tools/wine-env.sh"
if ny_can_run_32bit; then
  win=$win32 loader=$NY_WINE32_LOADER
  which_build="the 32-bit installer (the one shipped)"
else
  win=$win64 loader=$NY_WINE64_LOADER
  which_build="the 64-bit installer: this kernel cannot start 32-bit programs"
fi
win=$(cd "$win" && pwd)
setup="$win/ZorvakSetup.exe"
if [ ! -f "$setup" ]; then
  echo "demo: $setup is not built yet; run 'make build' first" >&2
  exit 1
fi

# Everything that runs a Windows program needs an X display. Re-running the
# whole script inside one xvfb-run keeps a single display for Wine's desktop
# process from the first program to the last.
if [ "$gui" -eq 1 ]; then
  if [ -z "${DISPLAY:-}" ]; then
    echo "demo: --gui needs an X display, but DISPLAY is not set" >&2
    exit 1
  fi
elif [ -z "${NY_DEMO_IN_XVFB:-}" ]; then
  command -v xvfb-run >/dev/null || { echo "demo: xvfb-run is missing; run 'make deps'" >&2; exit 1; }
  NY_DEMO_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$win32" "$win64"
fi

prefix="$root/build/demo-prefix"
export WINEPREFIX="$prefix" WINEARCH=win64 WINEDEBUG=-all
# Wine starts further processes through WINELOADER; through the 64-bit
# loader only, where the 32-bit one cannot run.
[ "$loader" = "$NY_WINE64_LOADER" ] && export WINELOADER="$loader"
# The demo must leave nothing outside its prefix (see NY_WINE_OVERRIDES).
export WINEDLLOVERRIDES="$NY_WINE_OVERRIDES"

start_all=$(date +%s)
work=$(mktemp -d)
cleanup() {
  # A failure half-way must not leave Wine processes of this prefix behind.
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

section() { printf '\n== %s\n' "$*"; }
problems=0
problem() { printf '   !! %s\n' "$*"; problems=$((problems + 1)); }

# Wine's helper processes (services, the desktop window) outlive the program
# and inherit its output handles, so output always goes through a file: a pipe
# or $(...) would wait for them.
wrun() {
  local log="$work/out.txt" rc=0
  "$loader" "$@" </dev/null >"$log" 2>&1 || rc=$?
  tr -d '\r' <"$log" >"$work/last.txt"
  return $rc
}

# --- 1. A fresh prefix ----------------------------------------------------------
section "Demonstrating $which_build: ${setup#"$root"/}"
section "Creating a fresh 64-bit Wine prefix: ${prefix#"$root"/}"
if [ -e "$prefix" ]; then
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  rm -rf "$prefix"
fi
mkdir -p "$(dirname "$prefix")"
t0=$(date +%s)
"$loader" wineboot -i </dev/null >"$work/wineboot.txt" 2>&1 || { cat "$work/wineboot.txt"; echo "demo: wineboot failed" >&2; exit 1; }
wineserver -w
echo "   ready after $(($(date +%s) - t0)) s"
drive_c="$prefix/drive_c"
if [ "$(readlink "$prefix/dosdevices/z:" 2>/dev/null)" != "/" ]; then
  echo "demo: the prefix has no Z: drive for the host's root; cannot reach the installer" >&2
  exit 1
fi

# --- 2. Install -----------------------------------------------------------------
# The exit code goes through a batch file: 'start /wait' hands the installer's
# full exit code to %errorlevel%, whereas wine's own exit status keeps only the
# low 8 bits (3010 would read as 194). Each batch line is expanded when it
# runs, so the echo sees the code of the finished installer.
setup_win="Z:$(printf '%s' "$setup" | tr '/' '\\')"
if [ "$gui" -eq 1 ]; then
  section "Running the installer with its wizard (finish it on your display)"
  setup_args=""
else
  section "Running the installer silently: ZorvakSetup.exe /S"
  setup_args=" /S"
fi
printf '@start "" /wait "%s"%s\r\n@echo exitcode=%%errorlevel%%\r\n' "$setup_win" "$setup_args" >"$drive_c/ny-demo-run.bat"
t0=$(date +%s%N)
wrun cmd /c 'C:\ny-demo-run.bat' || true
t1=$(date +%s%N)
wineserver -w
rm -f "$drive_c/ny-demo-run.bat"
code=$(sed -n 's/^exitcode=\(-\{0,1\}[0-9][0-9]*\)$/\1/p' "$work/last.txt" | tail -n 1)
if [ -z "$code" ]; then
  cat "$work/last.txt"
  echo "demo: could not read the installer's exit code" >&2
  exit 1
fi
case $code in
  0) meaning="success" ;;
  3010) meaning="success, a restart is needed" ;;
  1602) meaning="cancelled" ;;
  1603) meaning="failed" ;;
  1618) meaning="another setup is running" ;;
  *) meaning="unexpected" ;;
esac
printf '   exit code: %s (%s), took %d ms\n' "$code" "$meaning" $(((t1 - t0) / 1000000))
if [ "$code" != 0 ] && [ "$code" != 3010 ]; then
  echo "demo: the installer did not succeed" >&2
  exit 1
fi

# --- 3. What was installed --------------------------------------------------------
install_dir="$drive_c/Program Files (x86)/Zorvak/MiniDriver"
shared_dir="$drive_c/Program Files (x86)/Zorvak"
files=(
  "$drive_c/windows/system32/ZorvakMiniDriver.dll"
  "$drive_c/windows/system32/ZorvakMiniDriver.cfg"
  "$drive_c/windows/syswow64/ZorvakMiniDriver.dll"
  "$drive_c/windows/syswow64/ZorvakMiniDriver.cfg"
)
scard='HKLM\SOFTWARE\Microsoft\Cryptography\Calais\SmartCards'
uninstall_key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{A1111111-B897-4b94-A031-598EB296D75B}'
reg_items=(
  "$scard\\Zorvak PIV Token|64"
  "$scard\\Zorvak PIV Token|32"
  "$scard\\Zorvak ID Device|64"
  "$scard\\Zorvak ID Device|32"
  "$uninstall_key|32"
)
menu_roots=("$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs")
for d in "$drive_c"/users/*/AppData/Roaming/Microsoft/Windows/"Start Menu"/Programs; do
  [ -d "$d" ] && menu_roots+=("$d")
done

rel() { printf '%s' "${1#"$prefix"/}"; }

section "Installed files (system32 is the 64-bit system folder, syswow64 the 32-bit one)"
for f in "${files[@]}"; do
  if [ -f "$f" ]; then
    printf '   %10d  %s\n' "$(stat -c %s "$f")" "$(rel "$f")"
  else
    problem "missing: $(rel "$f")"
  fi
done

section "Install folder: $(rel "$install_dir")"
if [ -d "$install_dir" ]; then
  count=0
  while IFS= read -r -d '' f; do
    if [ -d "$f" ]; then
      printf '   %10s  %s/\n' "" "${f#"$install_dir"/}"
    else
      printf '   %10d  %s\n' "$(stat -c %s "$f")" "${f#"$install_dir"/}"
    fi
    count=$((count + 1))
  done < <(find "$install_dir" -mindepth 1 -print0 | sort -z)
  [ "$count" -gt 0 ] || problem "the install folder is empty"
else
  problem "missing: $(rel "$install_dir")"
fi

section "Registry"
for item in "${reg_items[@]}"; do
  key=${item%|*} view=${item##*|}
  echo "   [$view-bit view] $key"
  if wrun reg query "$key" "/reg:$view"; then
    # Drop the key line and blank lines: the values are what matters.
    { grep -v -e '^$' -e '^HKEY_' "$work/last.txt" || true; } | sed 's/^ */      /'
  else
    problem "missing in the $view-bit view: $key"
  fi
done

section "Start-menu shortcut"
shortcuts=()
while IFS= read -r -d '' lnk; do
  if [[ "${lnk,,}" == *zorvak* ]] || grep -qai zorvak "$lnk"; then shortcuts+=("$lnk"); fi
done < <(find "${menu_roots[@]}" -iname '*.lnk' -print0 2>/dev/null)
if [ "${#shortcuts[@]}" -eq 0 ]; then
  problem "no Start-menu shortcut refers to Zorvak"
fi
for lnk in "${shortcuts[@]}"; do
  # A shell link keeps the target's full path both as 8-bit text (LinkInfo)
  # and as UTF-16 (relative path / string data); either is enough to show it.
  target=$({ strings -a -n 4 "$lnk"; strings -a -el -n 4 "$lnk"; } | grep -o '[A-Za-z]:\\.*' | grep -i '\.[a-z0-9]\{2,4\}$' | head -n 1 || true)
  echo "   $(rel "$lnk")"
  echo "      -> ${target:-(target not readable)}"
done

# --- 4. Uninstall -----------------------------------------------------------------
section "Uninstalling silently: Uninstall.exe /S"
if [ ! -f "$install_dir/Uninstall.exe" ]; then
  problem "there is no Uninstall.exe to run"
else
  t0=$(date +%s%N)
  # The uninstaller hands over to a temporary copy of itself and waits for
  # it, ending with the copy's exit code; wineserver -w then waits for the
  # copy's self-deletion, which runs after both have ended.
  rc=0
  wrun 'C:\Program Files (x86)\Zorvak\MiniDriver\Uninstall.exe' /S || rc=$?
  wineserver -w
  t1=$(date +%s%N)
  printf '   exit status: %d, all done after %d ms\n' "$rc" $(((t1 - t0) / 1000000))
  [ "$rc" -eq 0 ] || problem "Uninstall.exe /S exited with $rc"
fi

section "After uninstalling"
gone() { printf '   gone     %s\n' "$*"; }
remains() { problem "REMAINS  $*"; }
for f in "${files[@]}" "$install_dir" "$shared_dir"; do
  if [ -e "$f" ]; then remains "$(rel "$f")"; else gone "$(rel "$f")"; fi
done
for item in "${reg_items[@]}"; do
  key=${item%|*} view=${item##*|}
  if wrun reg query "$key" "/reg:$view"; then remains "[$view-bit] $key"; else gone "[$view-bit] $key"; fi
done
for lnk in "${shortcuts[@]}"; do
  if [ -e "$lnk" ]; then remains "$(rel "$lnk")"; else gone "$(rel "$lnk")"; fi
  folder=$(dirname "$lnk")
  if [[ "$(basename "${folder,,}")" == *zorvak* ]]; then
    if [ -e "$folder" ]; then remains "$(rel "$folder")/"; else gone "$(rel "$folder")/"; fi
  fi
done
wineserver -w

section "Summary"
elapsed=$(($(date +%s) - start_all))
if [ "$problems" -gt 0 ]; then
  echo "   FAILED: $problems problem(s) above (marked !!); demo took ${elapsed} s"
  exit 1
fi
echo "   OK: installed, checked and uninstalled cleanly; demo took ${elapsed} s"
