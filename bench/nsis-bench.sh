#!/usr/bin/env bash
# Times our silent install against an NSIS installer that does the same work
# and prints both medians, the floor, their ratio and the peak working sets.
#   bench/nsis-bench.sh [ROUNDS [PAYLOAD ...]]     default 9 rounds, shipped
# PAYLOAD is what the package holds in the program-files folder that the
# shipped list copies into the install folder:
#   shipped  nothing more than the shipped package;
#   files    2,000 files of 4 KiB in 20 folders;
#   big      one file of 256 MiB;
#   all      the three in turn.
# It runs for each build this machine can run: build/win64 through Wine's
# 64-bit loader always, build/win32 through the 32-bit loader where the kernel
# can start 32-bit programs. For each build and payload,
# bench/nsis/MiniDriver.nsi is built with the NSIS stub of the build's word
# size (amd64-unicode, x86-unicode) and the same payload files (stored, not
# compressed, as ours are); for another payload than the shipped one, our
# setup is linked again with a package of that tree (the host's nypack makes
# it and its digest) and signed as the build signs. Each round times, in one
# kept 64-bit Wine prefix (build/bench-prefix) with a kept wineserver:
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
# makensis (Debian's nsis), xvfb-run, GNU time, the trivial program and the
# desktop holder are installed or built when missing. Prints the medians and,
# as this may run on a busy machine, the minima.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
bench_name="nsis-bench"
. "$root/bench/bench-wine.sh"
bench_in_xvfb "$0" "$@"

bench_rounds "${1:-}" 9
shift $(($# > 0 ? 1 : 0))
payloads=("${@:-shipped}")
[ "${payloads[*]}" = all ] && payloads=(shipped files big)
for payload in "${payloads[@]}"; do
  case $payload in
    shipped | files | big) ;;
    *) bench_die "PAYLOAD is shipped, files, big or all, not '$payload'" ;;
  esac
done
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

# One silent install of PROGRAM, its wall time in us and its peak resident
# set in KiB; in the warm-up round (NAME set) also a snapshot of what it
# left. The uninstall follows, not timed.
install_round() {
  local program=$1 name=${2:-}
  bench_time_run "$program" /S
  us=$elapsed_us peak=$peak_kib
  bench_wait_idle
  [ -n "$name" ] && snapshot >"$bench_work/state-$name.txt"
  bench_uninstall
}

# The files of PAYLOAD in a folder of their own, made once per run; none for
# the shipped payload.
payload_files() {
  local dir="$bench_work/payload-$1" folder i
  if [ ! -d "$dir" ]; then
    mkdir -p "$dir"
    case $1 in
      files)
        for ((folder = 0; folder < 20; folder++)); do
          mkdir "$dir/folder$folder"
          for ((i = 0; i < 100; i++)); do head -c 4096 /dev/urandom >"$dir/folder$folder/file$i.bin"; done
        done
        ;;
      big) head -c $((256 << 20)) /dev/urandom >"$dir/big.bin" ;;
    esac
  fi
  echo "$dir"
}

# Our setup of the build in WIN with the package tree TREE instead of its
# own: the build's resource script and link line, as ninja knows them, with
# the package and digest the host's nypack makes of TREE. Sets setup.
link_setup() {
  local win=$1 tree=$2 out=$3 commands rc link
  "$root/build/host/nypack" build "$tree" "$out.pkg" >/dev/null || bench_die "nypack build $tree failed"
  sed -e "s|\"[^\"]*/package\.bin\"|\"$out.pkg\"|" -e "s|\"[^\"]*/package\.bin\.digest\"|\"$out.pkg.digest\"|" \
      "$win/wizard/NySetupNew.rc" >"$out.rc"
  commands=$(ninja -C "$win" -t commands ZorvakSetup.exe)
  rc=$(grep -F -- "$win/wizard/NySetupNew.rc " <<<"$commands" | grep -F windres) || bench_die "no resource command in $win"
  link=$(grep -F -- " -o ZorvakSetup.exe " <<<"$commands") || bench_die "no link command in $win"
  rc=${rc/"$win/wizard/NySetupNew.rc"/"$out.rc"}
  rc=${rc/"wizard/CMakeFiles/ZorvakSetup.dir/NySetupNew.rc.res"/"$out.res"}
  link=${link#": && "}
  link=${link//"wizard/CMakeFiles/ZorvakSetup.dir/NySetupNew.rc.res"/"$out.res"}
  link=${link//" -o ZorvakSetup.exe "/" -o $out "}
  link=${link//"wizard/libZorvakSetup.dll.a"/"$out.dll.a"}
  link=${link//"$win/ZorvakSetup.exe"/"$out"}
  (cd "$win" && eval "$rc" && eval "$link") >"$bench_work/link.txt" 2>&1 ||
    { cat "$bench_work/link.txt" >&2; bench_die "linking $out failed"; }
  setup=$out
}

seconds() { awk -v us="$1" 'BEGIN { printf "%.3f s", us / 1e6 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }

mib() { awk -v kib="$1" 'BEGIN { printf "%.1f MiB", kib / 1024 }'; }

# A virtual machine may hand the memory its guest frees back to the host
# (virtio free page reporting): writes into the page cache then fault those
# pages in again, and an install that writes more than the uninstall before
# it freed pays for the difference (ours writes its 270 MB uninstaller as
# well). Where the guest kernel counts what it handed back, the rounds' share
# is printed, so that such a run can be told apart.
reported_kib() { cat /sys/module/page_reporting/parameters/reported_kib 2>/dev/null || echo -; }

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

# Benchmarks the build in WIN (64 or 32 bits, its NSIS stub TARGET) with
# PAYLOAD.
bench_build() {
  local win=$1 bits=$2 target=$3 payload=$4
  local setup="$win/ZorvakSetup.exe" tree="$win/wizard/package-tree"
  local nsis="$bench_work/MiniDriver-$target-$payload.exe"
  local round floor_us=() ours_us=() nsis_us=() ours_kib=() nsis_kib=() t_floor t_ours t_nsis snap_ours snap_nsis
  if [ ! -f "$setup" ] || [ ! -d "$tree" ]; then bench_die "$setup is not built; run 'make build'"; fi
  [ "$(bench_program_bits "$setup")" = "$bits" ] || bench_die "$setup is not a $bits-bit program"
  if [ "$payload" != shipped ]; then
    local files
    files=$(payload_files "$payload")
    rm -rf "$bench_work/tree"
    cp -r "$tree" "$bench_work/tree"
    tree="$bench_work/tree"
    # Links, not copies: the tree is read, never written.
    cp -rl "$files/." "$tree/PackageFiles/ProgramFiles(x86)/Zorvak/MiniDriver/"
    link_setup "$win" "$tree" "$bench_work/ZorvakSetup-$bits-$payload.exe"
  fi
  makensis -V1 "-DTARGET=$target" "-DPAYLOAD=$tree/PackageFiles" "-DOUTFILE=$nsis" "$root/bench/nsis/MiniDriver.nsi" ||
    bench_die "makensis failed"
  bench_use_loader "$bits"

  echo
  echo "== $bits-bit build, payload '$payload': ${setup#"$root"/} ($(stat -c %s "$setup") bytes) against NSIS $target" \
       "($(stat -c %s "$nsis") bytes), through $loader"
  bench_start_server "$win"
  bench_temp_baseline
  if [ -e "$bench_install_dir" ]; then
    echo "   an earlier run left the product installed; uninstalling it first"
    bench_uninstall
  fi
  local reported_before
  reported_before=$(reported_kib)
  for ((round = 0; round <= rounds; round++)); do
    bench_time_run "$trivial"
    t_floor=$elapsed_us
    snap_ours="" snap_nsis=""
    [ "$round" -eq 0 ] && snap_ours=ours snap_nsis=nsis
    if ((round % 2)); then
      install_round "$setup" "$snap_ours"; t_ours=$us p_ours=$peak
      install_round "$nsis" "$snap_nsis"; t_nsis=$us p_nsis=$peak
    else
      install_round "$nsis" "$snap_nsis"; t_nsis=$us p_nsis=$peak
      install_round "$setup" "$snap_ours"; t_ours=$us p_ours=$peak
    fi
    if [ "$round" -eq 0 ]; then
      printf '   warm-up   floor %5d ms   ours %5d ms   NSIS %5d ms\n' \
             $((t_floor / 1000)) $((t_ours / 1000)) $((t_nsis / 1000))
      diff -u "$bench_work/state-ours.txt" "$bench_work/state-nsis.txt" >&2 ||
        bench_die "the NSIS installer left another state than ours (above: ours -, NSIS +)"
      continue
    fi
    floor_us+=("$t_floor") ours_us+=("$t_ours") nsis_us+=("$t_nsis") ours_kib+=("$p_ours") nsis_kib+=("$p_nsis")
    printf '   round %-3d floor %5d ms   ours %5d ms   NSIS %5d ms\n' \
           "$round" $((t_floor / 1000)) $((t_ours / 1000)) $((t_nsis / 1000))
  done
  summary "$rounds rounds, medians" bench_median
  # On a busy machine the slowest rounds are the machine's; the fastest show
  # what the programs themselves cost.
  summary "the same rounds, minima" bench_min
  echo "   peak working set, median:"
  echo "     ours   $(mib "$(printf '%s\n' "${ours_kib[@]}" | bench_median)")"
  echo "     NSIS   $(mib "$(printf '%s\n' "${nsis_kib[@]}" | bench_median)")"
  [ "$reported_before" = - ] ||
    echo "   memory this machine handed back to its host meanwhile: $(mib $(($(reported_kib) - reported_before)))"
  bench_stop_server
}

echo "nsis-bench: $rounds rounds (and a warm-up round) per build and payload in ${bench_prefix#"$root"/}"
for payload in "${payloads[@]}"; do
  bench_build "$root/build/win64" 64 amd64-unicode "$payload"
  if ny_can_run_32bit; then
    bench_build "$root/build/win32" 32 x86-unicode "$payload"
  else
    echo
    echo "== 32-bit build, payload '$payload' skipped: this kernel cannot start 32-bit programs"
  fi
done
