#!/usr/bin/env bash
# Times the installer under Wine and prints the medians in milliseconds.
#   install-bench.sh [WIN_BUILD_DIR [ROUNDS]]     defaults: build/win32, 7
# Each round times, in a kept Wine prefix with a kept wineserver:
#   (a) a do-nothing GUI program, started exactly like the installer: what
#       Wine itself costs to start and end a process;
#   (b) a silent install, 'ZorvakSetup.exe /S' (a silent uninstall afterwards,
#       not timed, puts the prefix back as it was);
#   (c) 'ZorvakSetup.exe' until its wizard window is on screen (then killed).
# The installer's own share is (b) - (a) and (c) - (a). Rounds are interleaved
# so that a slow spell of the machine hits all three alike, and one round that
# is not counted warms the caches first.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
win=${1:-$root/build/win32}
rounds=${2:-7}
win=$(cd "$win" && pwd)
setup="$win/ZorvakSetup.exe"
trivial="$win/bench/ny_trivial_program.exe"
title="Zorvak Smart Card Minidriver Setup"
target_ms=150

if [ ! -f "$setup" ]; then
  echo "install-bench: $setup is not built; run 'make build'" >&2
  exit 1
fi
if [ ! -f "$trivial" ]; then
  cmake --build "$win" --target ny_trivial_program -j1 >/dev/null
fi

# The wizard's window is found with xdotool, which asks the X server only:
# the poll never goes through Wine, so it does not slow the wizard's start.
if ! command -v xdotool >/dev/null; then
  echo "install-bench: installing xdotool"
  as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends xdotool >/dev/null
fi

# One X display for the whole run: Wine's desktop process stays bound to the
# display it started on, and the kept wineserver keeps that process.
if [ -z "${NY_BENCH_IN_XVFB:-}" ]; then
  NY_BENCH_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$win" "$rounds"
fi

prefix="$root/build/bench-prefix"
export WINEPREFIX="$prefix" WINEARCH=win64 WINEDEBUG=-all
# winemenubuilder would copy the installer's Start-menu shortcut into the
# Linux desktop's menus under $HOME, outside the prefix.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
install_dir="$prefix/drive_c/Program Files (x86)/Zorvak/MiniDriver"
uninstaller='C:\Program Files (x86)\Zorvak\MiniDriver\Uninstall.exe'

work=$(mktemp -d)
wizard_pid=""
cleanup() {
  if [ -n "$wizard_pid" ]; then kill -KILL "$wizard_pid" 2>/dev/null || true; fi
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

now_ns() { date +%s%N; }

if [ ! -f "$prefix/.ny-ready" ]; then
  echo "install-bench: creating the 64-bit prefix ${prefix#"$root"/} (once)"
  rm -rf "$prefix"
  mkdir -p "$(dirname "$prefix")"
  wineboot -i </dev/null >"$work/wineboot.txt" 2>&1 || { cat "$work/wineboot.txt"; exit 1; }
  wineserver -w
  touch "$prefix/.ny-ready"
fi

# Wine's helper processes inherit the output handles of the program that
# started them, so output goes to a file rather than a pipe.
wrun() { wine "$@" </dev/null >"$work/out.txt" 2>&1; }

# The kept wineserver (and the services it keeps) would make 'wineserver -w'
# wait forever, so "everything has finished" is read from the process table:
# no process of this prefix is left but Wine's own resident ones.
resident='^c:\\windows\\system32\\(services|winedevice|plugplay|svchost|rpcss|explorer)\.exe$'
busy_processes() {
  local d cmd
  for d in /proc/[0-9]*; do
    cmd=""
    IFS= read -r -d '' cmd 2>/dev/null <"$d/cmdline" || true
    cmd=${cmd,,}
    [[ "$cmd" == *.exe ]] || continue
    [[ "$cmd" =~ $resident ]] && continue
    grep -qzxF "WINEPREFIX=$prefix" "$d/environ" 2>/dev/null || continue
    echo "${d#/proc/} $cmd"
  done
}
wait_idle() {
  local waited=0
  while [ -n "$(busy_processes)" ]; do
    sleep 0.1
    waited=$((waited + 1))
    if [ "$waited" -gt 1200 ]; then
      echo "install-bench: Wine processes still running after 2 minutes:" >&2
      busy_processes >&2
      exit 1
    fi
  done
}

uninstall() {
  local rc=0
  wrun "$uninstaller" /S || rc=$?
  if [ "$rc" -ne 0 ]; then cat "$work/out.txt"; echo "install-bench: uninstall exited with $rc" >&2; exit 1; fi
  # The uninstaller hands over to a temporary copy of itself and ends.
  wait_idle
  if [ -e "$install_dir" ]; then echo "install-bench: the uninstall left ${install_dir#"$prefix"/}" >&2; exit 1; fi
}

# (a) and (b): wall time of one program run, in ms, on stdout.
time_run() {
  local t0 t1 rc=0
  t0=$(now_ns)
  wrun "$@" || rc=$?
  t1=$(now_ns)
  if [ "$rc" -ne 0 ]; then
    cat "$work/out.txt" >&2
    echo "install-bench: '$*' exited with $rc (the low 8 bits of its exit code)" >&2
    exit 1
  fi
  echo $(((t1 - t0) / 1000000))
}

temp_entries() { find "$prefix"/drive_c/users/*/Temp -mindepth 1 -maxdepth 1 2>/dev/null | LC_ALL=C sort; }

# (c): from starting the wizard until its window is mapped, in ms.
time_welcome() {
  local t0 t1 polls=0
  temp_entries >"$work/temp-before.txt"
  t0=$(now_ns)
  wine "$setup" </dev/null >"$work/wizard.txt" 2>&1 &
  wizard_pid=$!
  until xdotool search --onlyvisible --name "^$title\$" >/dev/null 2>&1; do
    if ! kill -0 "$wizard_pid" 2>/dev/null; then
      cat "$work/wizard.txt" >&2
      echo "install-bench: the wizard ended before its window showed" >&2
      exit 1
    fi
    polls=$((polls + 1))
    if [ "$polls" -gt 12000 ]; then echo "install-bench: no window '$title' after 2 minutes" >&2; exit 1; fi
    sleep 0.01
  done
  t1=$(now_ns)
  # 'wine program' runs the Windows process itself under this pid.
  kill -KILL "$wizard_pid" 2>/dev/null || true
  wait "$wizard_pid" 2>/dev/null || true
  wizard_pid=""
  wait_idle
  # A killed wizard cannot remove what it unpacked into the temporary folder;
  # it goes here so that every round starts from the same prefix.
  comm -13 "$work/temp-before.txt" <(temp_entries) | while IFS= read -r entry; do rm -rf "$entry"; done
  echo $(((t1 - t0) / 1000000))
}

median() {
  sort -n | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print int((v[NR / 2] + v[NR / 2 + 1]) / 2) }'
}

# A kept wineserver: every round starts with Wine's services already up, as
# they are on a Windows machine that has booted.
wineserver -p
wrun "$trivial" || true
wait_idle
if [ -e "$install_dir" ]; then
  echo "install-bench: an earlier run left the product installed; uninstalling it first"
  uninstall
fi

echo "install-bench: $rounds rounds (and one warm-up round) in ${prefix#"$root"/}"
a=() b=() c=()
for ((round = 0; round <= rounds; round++)); do
  ta=$(time_run "$trivial" /S)
  tb=$(time_run "$setup" /S)
  uninstall
  tc=$(time_welcome)
  if [ "$round" -eq 0 ]; then
    printf '  warm-up   trivial %5d ms   install %5d ms   welcome %5d ms\n' "$ta" "$tb" "$tc"
    continue
  fi
  a+=("$ta") b+=("$tb") c+=("$tc")
  printf '  round %-3d trivial %5d ms   install %5d ms   welcome %5d ms\n' "$round" "$ta" "$tb" "$tc"
done

ma=$(printf '%s\n' "${a[@]}" | median)
mb=$(printf '%s\n' "${b[@]}" | median)
mc=$(printf '%s\n' "${c[@]}" | median)
install_work=$((mb - ma))
welcome=$((mc - ma))
verdict() { if [ "$1" -le "$target_ms" ]; then echo "within"; else echo "OVER"; fi; }

echo
echo "medians of $rounds rounds:"
printf '  (a) trivial program            %6d ms\n' "$ma"
printf '  (b) silent install             %6d ms\n' "$mb"
printf '  (c) wizard welcome page shown  %6d ms\n' "$mc"
printf '  install work  = (b) - (a)      %6d ms   target %d ms: %s\n' "$install_work" "$target_ms" "$(verdict "$install_work")"
printf '  welcome page  = (c) - (a)      %6d ms   target %d ms: %s\n' "$welcome" "$target_ms" "$(verdict "$welcome")"
