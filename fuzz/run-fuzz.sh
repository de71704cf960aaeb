#!/usr/bin/env bash
# Runs a libFuzzer target for a bounded time on a fresh copy of its seeds.
#   run-fuzz.sh FUZZER SEEDS_DIR WORK_DIR SECONDS
set -eu
fuzzer=$1 seeds=$2 work=$3 seconds=$4
rm -rf "$work"
mkdir -p "$work/corpus" "$work/artifacts"
cp "$seeds"/* "$work/corpus/"
exec "$fuzzer" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
  -artifact_prefix="$work/artifacts/" "$work/corpus"
