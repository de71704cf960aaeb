#!/usr/bin/env bash
# Times the installer under Wine and prints the medians in milliseconds.
#   install-bench.sh [WIN_BUILD_DIR [ROUNDS]]
# Defaults: build/win32 where this machine can start 32-bit programs, else
# build/win64; 7 rounds. A 64-bit build runs through Wine's 64-bit loader.
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
bench_name="install-bench"
. "$root/bench/bench-wine.sh"
bench_in_xvfb "$0" "$@"

# The wizard's window is found with xdotool, which asks the X server only:
# the poll never goes through Wine, so it does not slow the wizard's start.
bench_need xdotool xdotool
bench_start_setup "${1:-}" "${2:-}"
title="Zorvak Smart Card Minidriver Setup"
target_ms=150

# (c): from starting the wizard until its window is mapped, in ms.
time_welcome() {
  local t0 polls=0
  t0=$(bench_now_us)
  "$loader" "$setup" </dev/null >"$bench_work/wizard.txt" 2>&1 &
  bench_child=$!
  until xdotool search --onlyvisible --name "^$title\$" >/dev/null 2>&1; do
    if ! kill -0 "$bench_child" 2>/dev/null; then
      cat "$bench_work/wizard.txt" >&2
      bench_die "the wizard ended before its window showed"
    fi
    polls=$((polls + 1))
    [ "$polls" -gt 12000 ] && bench_die "no window '$title' after 2 minutes"
    sleep 0.01
  done
  elapsed_us=$(($(bench_now_us) - t0))
  # The loader runs the Windows process itself under this pid.
  kill -KILL "$bench_child" 2>/dev/null || true
  wait "$bench_child" 2>/dev/null || true
  bench_child=""
  bench_wait_idle
  # A killed wizard cannot remove what it unpacked into the temporary folder.
  bench_temp_reset
}

bench_start_server "$win"
bench_temp_baseline
if [ -e "$bench_install_dir" ]; then
  echo "install-bench: an earlier run left the product installed; uninstalling it first"
  bench_uninstall
fi

echo "install-bench: ${setup#"$root"/}, $rounds rounds (and one warm-up round) in ${bench_prefix#"$root"/}"
a=() b=() c=()
for ((round = 0; round <= rounds; round++)); do
  bench_time_run "$trivial"
  ta=$((elapsed_us / 1000))
  bench_time_run "$setup" /S
  tb=$((elapsed_us / 1000))
  bench_uninstall
  time_welcome
  tc=$((elapsed_us / 1000))
  if [ "$round" -eq 0 ]; then
    printf '  warm-up   trivial %5d ms   install %5d ms   welcome %5d ms\n' "$ta" "$tb" "$tc"
    continue
  fi
  a+=("$ta") b+=("$tb") c+=("$tc")
  printf '  round %-3d trivial %5d ms   install %5d ms   welcome %5d ms\n' "$round" "$ta" "$tb" "$tc"
done

ma=$(printf '%s\n' "${a[@]}" | bench_median)
mb=$(printf '%s\n' "${b[@]}" | bench_median)
mc=$(printf '%s\n' "${c[@]}" | bench_median)
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
