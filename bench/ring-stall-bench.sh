#!/usr/bin/env bash
# What a hostile process beside the log ring costs a silent install.
#   bench/ring-stall-bench.sh [WIN_BUILD_DIR [ROUNDS]]
# Defaults: build/win32 where this machine can start 32-bit programs, else
# build/win64; 7 rounds. Each round times, in the kept Wine prefix
# (build/bench-prefix) with a kept wineserver, 'ZorvakSetup.exe /S':
#   plain    with nobody else on the ring;
#   writer   beside 'ny_ring_staller writer', which claims a slot and never
#            commits it, and claims the next one as soon as it is published;
#   reader   beside 'ny_ring_staller reader', which poses as a reader that
#            never reads and keeps the ring full.
# The staller is started before the install and ended after it; the installed
# uninstaller then runs silently, not timed, on a ring of its own. The three
# installs take turns at going first, and a warm-up round is not counted.
# Prints medians and minima (the steadier figure on a busy machine) and what
# each staller adds to the plain install.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
bench_name="ring-stall-bench"
. "$root/bench/bench-wine.sh"
bench_in_xvfb "$0" "$@"

bench_start_setup "${1:-}" "${2:-}"
staller="$win/tests/common/ny_ring_staller.exe"
if [ ! -f "$staller" ]; then
  cmake --build "$win" --target ny_ring_staller -j1 >/dev/null
fi

staller_pid=""
stop_staller() {
  [ -n "$staller_pid" ] || return 0
  kill -KILL "$staller_pid" 2>/dev/null || true
  wait "$staller_pid" 2>/dev/null || true
  staller_pid=""
  # The ring goes with the last process that holds it: the next install
  # starts on a fresh one.
  bench_wait_idle
}
trap 'stop_staller; bench_cleanup' EXIT

# Starts the staller in MODE and waits until its trap is set.
start_staller() {
  local polls=0
  "$loader" "$staller" "$1" </dev/null >"$bench_work/staller.txt" 2>&1 &
  staller_pid=$!
  until grep -q ready "$bench_work/staller.txt" 2>/dev/null; do
    kill -0 "$staller_pid" 2>/dev/null || bench_die "ny_ring_staller $1 ended: $(cat "$bench_work/staller.txt")"
    polls=$((polls + 1))
    [ "$polls" -gt 12000 ] && bench_die "ny_ring_staller $1 not ready after 2 minutes"
    sleep 0.01
  done
}

# Times one silent install in MODE (plain, writer or reader) into elapsed_ms.
time_install() {
  [ "$1" = plain ] || start_staller "$1"
  bench_time_run "$setup" /S
  elapsed_ms=$((elapsed_us / 1000))
  stop_staller
  bench_uninstall
}

bench_start_server "$win"
bench_temp_baseline
if [ -e "$bench_install_dir" ]; then
  echo "$bench_name: an earlier run left the product installed; uninstalling it first"
  bench_uninstall
fi

echo "$bench_name: ${setup#"$root"/}, $rounds rounds (and one warm-up round) in ${bench_prefix#"$root"/}"
modes=(plain writer reader)
declare -A times=()
for ((round = 0; round <= rounds; round++)); do
  line=""
  for ((i = 0; i < 3; i++)); do
    mode=${modes[$(((round + i) % 3))]}
    time_install "$mode"
    line+=$(printf '   %s %5d ms' "$mode" "$elapsed_ms")
    [ "$round" -eq 0 ] || times[$mode]+="$elapsed_ms "
  done
  if [ "$round" -eq 0 ]; then echo "  warm-up  $line"; else printf '  round %-3d%s\n' "$round" "$line"; fi
done

# Prints one statistic of every mode and what the stallers add to plain.
summary() {
  local title=$1 statistic=$2 mode value plain=0
  local -A label=([plain]="silent install" [writer]="beside a stuck writer" [reader]="beside a stalled reader")
  echo
  echo "$title:"
  for mode in "${modes[@]}"; do
    value=$(printf '%s\n' ${times[$mode]} | "$statistic")
    if [ "$mode" = plain ]; then
      plain=$value
      printf '  %-24s %6d ms\n' "${label[$mode]}" "$value"
    else
      printf '  %-24s %6d ms   %+5d ms\n' "${label[$mode]}" "$value" $((value - plain))
    fi
  done
}
summary "medians of $rounds rounds" bench_median
summary "minima of the same rounds" bench_min
