# shellcheck shell=bash
# Sourced by the install benchmarks (install-bench.sh, nsis-bench.sh): one
# kept 64-bit Wine prefix, build/bench-prefix, the Wine loader that fits each
# build, and the timing of program runs. The sourcing script sets root (the
# repository) and bench_name first. Nothing is left outside the prefix: the
# scratch folder goes at exit, and so does every Wine process of the prefix.

. "$root/tools/wine-env.sh"

bench_die() { echo "$bench_name: $*" >&2; exit 1; }

bench_as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

# Installs the Debian package PACKAGE when COMMAND is missing.
bench_need() {
  local command=$1 package=$2
  command -v "$command" >/dev/null && return 0
  echo "$bench_name: installing $package"
  # A mirror caught mid-sync fails some indexes; what did arrive may still
  # hold the package.
  bench_as_root apt-get update -qq || echo "$bench_name: the package index update failed; trying with what arrived"
  bench_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$package" >/dev/null
}

# Runs the calling script again inside one X server for the whole run:
# Wine's desktop process stays bound to the display it started on, and the
# kept wineserver keeps that process. Call it as: bench_in_xvfb "$0" "$@".
bench_in_xvfb() {
  [ -n "${NY_BENCH_IN_XVFB:-}" ] && return 0
  bench_need xvfb-run xvfb
  bench_need /usr/bin/time time
  NY_BENCH_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$@"
}

# 64 or 32: the word size of a Windows program, from the machine field of its
# PE header.
bench_program_bits() {
  local pe machine
  pe=$(od -An -t u4 -j 60 -N 4 "$1" | tr -d ' ')
  machine=$(od -An -t x2 -j $((pe + 4)) -N 2 "$1" | tr -d ' ')
  case $machine in
    8664) echo 64 ;;
    014c) echo 32 ;;
    *) bench_die "$1 is no x86 or x64 Windows program" ;;
  esac
}

# Sets loader for programs of BITS bits, and the loader Wine starts further
# processes through, as for the test prefixes.
bench_use_loader() {
  local kind=win64
  [ "$1" = 64 ] && kind=x64
  loader=$(ny_wine_loader "$kind")
  ny_wine_env "$kind"
}

# The number of rounds from the command line, DEFAULT when none is given.
bench_rounds() {
  rounds=${1:-$2}
  [[ "$rounds" =~ ^[1-9][0-9]*$ ]] || bench_die "ROUNDS must be a positive number, not '$rounds'"
}

# The arguments [WIN_BUILD_DIR [ROUNDS]] of a benchmark that times one
# build's setup program: build/win32 where this machine can start 32-bit
# programs, else build/win64; 7 rounds. Sets win, setup, bits and rounds,
# then makes the scratch folder and the kept prefix and picks the loader.
bench_start_setup() {
  local default_win=$root/build/win64
  ny_can_run_32bit && default_win=$root/build/win32
  win=$(cd "${1:-$default_win}" && pwd)
  bench_rounds "$2" 7
  setup="$win/ZorvakSetup.exe"
  [ -f "$setup" ] || bench_die "$setup is not built; run 'make build'"
  bits=$(bench_program_bits "$setup")
  if [ "$bits" = 32 ] && ! ny_can_run_32bit; then
    bench_die "$setup is a 32-bit program and this kernel cannot start 32-bit programs"
  fi
  bench_make_work
  bench_make_prefix
  bench_use_loader "$bits"
}

bench_prefix="$root/build/bench-prefix"
export WINEPREFIX="$bench_prefix" WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="$NY_WINE_OVERRIDES"
bench_child=""
bench_holder=""
bench_cleanup() {
  local pid
  for pid in $bench_child $bench_holder; do kill -KILL "$pid" 2>/dev/null || true; done
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$bench_work"
}
# The scratch folder, made after bench_in_xvfb (whose exec would lose it).
bench_make_work() {
  mkdir -p "$root/build"
  bench_work=$(mktemp -d "$root/build/bench-work.XXXXXX")
  trap bench_cleanup EXIT
}

# Creates the prefix once. Where 32-bit programs start, it is made through
# the 32-bit loader so that its WOW64 half is set up too; the stamp says which
# kind it is, so a prefix made on the other kind of kernel is made again.
bench_make_prefix() {
  local kind=x64
  ny_can_run_32bit && kind=win64
  [ "$(cat "$bench_prefix/.ny-ready" 2>/dev/null)" = "$kind" ] && return 0
  echo "$bench_name: creating the 64-bit prefix ${bench_prefix#"$root"/} (once)"
  rm -rf "$bench_prefix"
  ny_make_prefix "$kind" "$bench_prefix" || bench_die "wineboot failed"
  echo "$kind" >"$bench_prefix/.ny-ready"
}

# Wine's helper processes inherit the output handles of the program that
# started them, so output goes to a file rather than a pipe. A program that
# never ends (a window under /S, say) ends the run with 124 after 2 minutes.
# The program's peak resident set (peak_kib) is GNU time's: Linux's count
# for the one process that is the Windows program under Wine, Wine's own
# mappings included, the same for every program timed.
bench_run() {
  local rc=0
  /usr/bin/time -f %M -o "$bench_work/peak.txt" timeout -k 5 120 "$loader" "$@" </dev/null >"$bench_work/out.txt" 2>&1 ||
    rc=$?
  peak_kib=$(tail -n 1 "$bench_work/peak.txt")
  return $rc
}
bench_exit_text() {
  if [ "$1" -eq 124 ]; then echo "did not end within 2 minutes"; else echo "exited with $1"; fi
}

# The kept wineserver (and the services it keeps) would make 'wineserver -w'
# wait forever, so "everything has finished" is read from the process table:
# no Windows process of this prefix is left but Wine's own resident ones and
# the desktop holder. A Windows process runs in a Wine loader; one that is
# just starting does not show its Windows name yet, so it is known by the
# loader it runs in, not by its name.
bench_resident='^c:\\windows\\system32\\(services|winedevice|plugplay|svchost|rpcss|explorer)\.exe$'
bench_resident+='|ny_desktop_holder\.exe$'
bench_busy_processes() {
  local d cmd
  for d in /proc/[0-9]*; do
    [[ "$d/exe" -ef "$NY_WINE64_LOADER" || "$d/exe" -ef "$NY_WINE32_LOADER" ]] || continue
    cmd=""
    IFS= read -r -d '' cmd 2>/dev/null <"$d/cmdline" || true
    cmd=${cmd,,}
    [[ "$cmd" =~ $bench_resident ]] && continue
    grep -qzxF "WINEPREFIX=$bench_prefix" "$d/environ" 2>/dev/null || continue
    echo "${d#/proc/} $cmd"
  done
}
bench_wait_idle() {
  local polls=0
  while [ -n "$(bench_busy_processes)" ]; do
    sleep 0.1
    polls=$((polls + 1))
    if [ "$polls" -gt 1200 ]; then
      bench_busy_processes >&2
      bench_die "Wine processes still running after 2 minutes"
    fi
  done
}

# Starts the kept wineserver, Wine's resident services and its desktop
# process (held open by bench/DesktopHolder.cpp) with the programs of the
# build in WIN, so that every timed run finds them up, as on a Windows
# machine that has booted. Sets trivial, the build's do-nothing program.
bench_start_server() {
  local win=$1
  trivial="$win/bench/ny_trivial_program.exe"
  local holder="$win/bench/ny_desktop_holder.exe"
  if [ ! -f "$trivial" ] || [ ! -f "$holder" ]; then
    cmake --build "$win" --target ny_trivial_program ny_desktop_holder -j1 >/dev/null
  fi
  # A server left by a killed run holds the prefix, and 'wineserver -p' would
  # then end at once without a word.
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w
  wineserver -p
  "$loader" "$holder" </dev/null >"$bench_work/holder.txt" 2>&1 &
  bench_holder=$!
  # Its end by signal, at the run's end, is no news.
  disown "$bench_holder"
  bench_run "$trivial" || true
  bench_wait_idle
}

# Ends every Wine process of the prefix, the kept wineserver included.
bench_stop_server() {
  wineserver -k
  wineserver -w
  bench_holder=""
}

# EPOCHREALTIME's separator follows the locale's decimal point.
bench_now_us() { echo "${EPOCHREALTIME//[!0-9]/}"; }

# Ends the run over a failed program, naming the prefix's other programs:
# one still running can be what made it fail.
bench_report_failure() {
  local others
  others=$(bench_busy_processes)
  [ -n "$others" ] && printf 'still running in the prefix:\n%s\n' "$others" >&2
  bench_die "$1"
}

# Runs a program to its end; elapsed_us is its wall time. A failing program
# ends the benchmark with its output.
bench_time_run() {
  local t0 rc=0
  t0=$(bench_now_us)
  bench_run "$@" || rc=$?
  elapsed_us=$(($(bench_now_us) - t0))
  if [ "$rc" -ne 0 ]; then
    cat "$bench_work/out.txt" >&2
    bench_report_failure "'$*' $(bench_exit_text "$rc") (the low 8 bits of its exit code)"
  fi
}

# The median and the minimum of the numbers on stdin, one a line.
bench_median() {
  sort -n | awk '{ v[NR] = $1 }
    END { if (NR % 2) print v[(NR + 1) / 2]; else print int((v[NR / 2] + v[NR / 2 + 1]) / 2) }'
}
bench_min() { sort -n | head -n 1; }

bench_temp_entries() {
  find "$bench_prefix"/drive_c/users/*/Temp -mindepth 1 -maxdepth 1 2>/dev/null | LC_ALL=C sort
}
# Records what the prefix's temporary folders hold now ...
bench_temp_baseline() { bench_temp_entries >"$bench_work/temp-baseline.txt"; }
# ... and removes whatever has come since: what a killed program or an
# uninstaller's self-deleting copy left (those wait for a restart that never
# comes), so that every round starts from the same prefix.
bench_temp_reset() {
  comm -13 "$bench_work/temp-baseline.txt" <(bench_temp_entries) |
    while IFS= read -r entry; do rm -rf "$entry"; done
}

# Both the product and the NSIS yardstick install their uninstaller here.
bench_install_dir="$bench_prefix/drive_c/Program Files (x86)/Zorvak/MiniDriver"
bench_uninstaller='C:\Program Files (x86)\Zorvak\MiniDriver\Uninstall.exe'

# Runs the installed uninstaller silently and waits for the copy it hands
# over to; fails when the product is still there afterwards.
bench_uninstall() {
  local rc=0
  bench_run "$bench_uninstaller" /S || rc=$?
  if [ "$rc" -ne 0 ]; then
    cat "$bench_work/out.txt" >&2
    bench_report_failure "the uninstall $(bench_exit_text "$rc")"
  fi
  bench_wait_idle
  [ -e "$bench_install_dir" ] && bench_die "the uninstall left ${bench_install_dir#"$bench_prefix"/}"
  bench_temp_reset
}
