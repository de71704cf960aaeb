#!/usr/bin/env bash
# Times our silent install against an NSIS installer that does the same work
# and prints both medians, the floor and their ratio.
#   bench/nsis-bench.sh [ROUNDS]        default 9
# It runs for each build this machine can run: build/win64 through Wine's
# 64-bit loader always, build/win32 through the 32-bit loader where the kernel
# can start 32-bit programs. For each, bench/nsis/MiniDriver.nsi is built with
# the NSIS stub of the build's word size (amd64-unicode, x86-unicode) and the
# build's own payload files, and each round times, in one kept 64-bit Wine
# prefix (build/bench-prefix) with a kept wineserver:
#   floor  the do-nothing program (bench/TrivialProgram.cpp) of that build:
#          what Wine itself costs to start and end a process;
#   ours   'ZorvakSetup.exe /S';
#   NSIS   the NSIS installer with /S.
# After each install the installed uninstaller runs silently, not timed, so
# that every install starts from the same state. The two installs take turns
# at going first, and a warm-up round, not counted, also checks that both
# leave the same files and registry values behind.
# Wine's desktop process is held open all along (bench/DesktopHolder.cpp), as
# Windows' desktop is: otherwise each install would wait for a new one.
# makensis (Debian's nsis), xvfb-run, the trivial program and the desktop
# holder are installed or built when missing. Prints the medians and, as this
# may run on a busy machine, the minima.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
bench_name="nsis-bench"
. "$root/bench/bench-wine.sh"
bench_in_xvfb "$0" "$@"

bench_rounds "${1:-}" 9
bench_need makensis nsis
bench_make_work
bench_make_prefix

# What an install leaves behind, for comparing the two installers: the system
# folders' files (by content), the names in the install and Start-menu
# folders, and both registry views of the product's keys.
snapshot() {
  local c="$bench_prefix/drive_c" view key
  (cd "$c/windows" && md5sum syswow64/ZorvakMiniDriver.dll syswow64/ZorvakMiniDriver.cfg \
                              system32/ZorvakMiniDriver.dll system32/ZorvakMiniDriver.cfg) || true
  (cd "$c" && find "${bench_install_dir#"$c"/}" \
                   "ProgramData/Microsoft/Windows/Start Menu/Programs/Zorvak Smart Card Minidriver" | sort) || true
  for view in 32 64; do
    for key in 'SOFTWARE\Microsoft\Cryptography\Calais\SmartCards' \
               'SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{A1111111-B897-4b94-A031-598EB296D75B}'; do
      echo "== HKLM\\$key /reg:$view"
      bench_run reg query "HKLM\\$key" /s "/reg:$view" || true
      # The sizes are each installer's own count (ours counts what it copied,
      # NSIS its files on disk, its uninstaller being smaller than ours).
      sed 's/\(EstimatedSize *REG_DWORD *\)0x[0-9a-fA-F]*/\1<size>/' "$bench_work/out.txt"
    done
  done
}

# One silent install of PROGRAM, its wall time in us; in the warm-up round
# (NAME set) also a snapshot of what it left. The uninstall follows, not timed.
install_round() {
  local program=$1 name=${2:-}
  bench_time_run "$program" /S
  us=$elapsed_us
  bench_wait_idle
  [ -n "$name" ] && snapshot >"$bench_work/state-$name.txt"
  bench_uninstall
}

seconds() { awk -v us="$1" 'BEGIN { printf "%.3f s", us / 1e6 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }

# Prints the floor, both installs and their ratios, each figure taken over the
# rounds by STATISTIC (bench_median, bench_min).
summary() {
  local title=$1 statistic=$2 floor ours nsis
  floor=$(printf '%s\n' "${floor_us[@]}" | "$statistic")
  ours=$(printf '%s\n' "${ours_us[@]}" | "$statistic")
  nsis=$(printf '%s\n' "${nsis_us[@]}" | "$statistic")
  echo "   $title:"
  echo "     ours   $(seconds "$ours")"
  echo "     NSIS   $(seconds "$nsis")"
  echo "     floor  $(seconds "$floor")"
  echo "     ours / NSIS                        $(ratio "$ours" "$nsis")"
  echo "     (ours - floor) / (NSIS - floor)    $(ratio $((ours - floor)) $((nsis - floor)))"
}

# Benchmarks the build in WIN (64 or 32 bits, its NSIS stub TARGET).
bench_build() {
  local win=$1 bits=$2 target=$3
  local setup="$win/ZorvakSetup.exe"
  local payload="$win/wizard/package-tree/PackageFiles" nsis="$bench_work/MiniDriver-$target.exe"
  local round floor_us=() ours_us=() nsis_us=() t_floor t_ours t_nsis snap_ours snap_nsis
  if [ ! -f "$setup" ] || [ ! -d "$payload" ]; then bench_die "$setup is not built; run 'make build'"; fi
  [ "$(bench_program_bits "$setup")" = "$bits" ] || bench_die "$setup is not a $bits-bit program"
  makensis -V1 "-DTARGET=$target" "-DPAYLOAD=$payload" "-DOUTFILE=$nsis" "$root/bench/nsis/MiniDriver.nsi" ||
    bench_die "makensis failed"
  bench_use_loader "$bits"

  echo
  echo "== $bits-bit build: ${setup#"$root"/} ($(stat -c %s "$setup") bytes) against NSIS $target" \
       "($(stat -c %s "$nsis") bytes), through $loader"
  bench_start_server "$win"
  bench_temp_baseline
  if [ -e "$bench_install_dir" ]; then
    echo "   an earlier run left the product installed; uninstalling it first"
    bench_uninstall
  fi
  for ((round = 0; round <= rounds; round++)); do
    bench_time_run "$trivial"
    t_floor=$elapsed_us
    snap_ours="" snap_nsis=""
    [ "$round" -eq 0 ] && snap_ours=ours snap_nsis=nsis
    if ((round % 2)); then
      install_round "$setup" "$snap_ours"; t_ours=$us
      install_round "$nsis" "$snap_nsis"; t_nsis=$us
    else
      install_round "$nsis" "$snap_nsis"; t_nsis=$us
      install_round "$setup" "$snap_ours"; t_ours=$us
    fi
    if [ "$round" -eq 0 ]; then
      printf '   warm-up   floor %5d ms   ours %5d ms   NSIS %5d ms\n' \
             $((t_floor / 1000)) $((t_ours / 1000)) $((t_nsis / 1000))
      diff -u "$bench_work/state-ours.txt" "$bench_work/state-nsis.txt" >&2 ||
        bench_die "the NSIS installer left another state than ours (above: ours -, NSIS +)"
      continue
    fi
    floor_us+=("$t_floor") ours_us+=("$t_ours") nsis_us+=("$t_nsis")
    printf '   round %-3d floor %5d ms   ours %5d ms   NSIS %5d ms\n' \
           "$round" $((t_floor / 1000)) $((t_ours / 1000)) $((t_nsis / 1000))
  done
  summary "$rounds rounds, medians" bench_median
  # On a busy machine the slowest rounds are the machine's; the fastest show
  # what the programs themselves cost.
  summary "the same rounds, minima" bench_min
  bench_stop_server
}

echo "nsis-bench: $rounds rounds (and a warm-up round) per build in ${bench_prefix#"$root"/}"
bench_build "$root/build/win64" 64 amd64-unicode
if ny_can_run_32bit; then
  bench_build "$root/build/win32" 32 x86-unicode
else
  echo
  echo "== 32-bit build skipped: this kernel cannot start 32-bit programs"
fi
