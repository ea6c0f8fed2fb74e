#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each on its
# seed corpus for a bounded number of executions. Usage: scripts/fuzz.sh [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-${AMBIT_FUZZ_RUNS:-20000}}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for bin in build/fuzz/*_fuzz; do
  [ -x "$bin" ] || continue
  name=$(basename "$bin")
  seeds=fuzz/corpus/${name%_fuzz}
  mkdir -p "$work/$name"
  [ -d "$seeds" ] && cp -r "$seeds"/. "$work/$name"/
  echo "fuzz: $name, $runs runs"
  if ! "$bin" -runs="$runs" -max_total_time=120 -print_final_stats=1 "$work/$name" \
        >"$work/$name.log" 2>&1; then
    tail -40 "$work/$name.log"
    status=1
  fi
  grep -E '^stat::number_of_executed_units' "$work/$name.log" || true
done
exit $status
