#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each on its
# seed corpus. CI gives all targets one time budget, shared out evenly, so a
# new target does not lengthen the run: scripts/fuzz.sh [SECONDS] (default
# AMBIT_FUZZ_SECONDS or 240 in all). A target stops early after
# AMBIT_FUZZ_RUNS executions when that is set (longer campaigns: a large
# budget and no run cap).
set -euo pipefail
cd "$(dirname "$0")/.."
budget=${1:-${AMBIT_FUZZ_SECONDS:-240}}
case "$budget" in
  '' | *[!0-9]* | 0) echo "fuzz: the budget must be a whole number of seconds above 0" >&2; exit 2 ;;
esac
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
# The build must stop at a finding: a planted signed overflow that the run
# survives means undefined behaviour would pass the campaign unseen.
if [ ! -x build/fuzz/fuzz_selfcheck ]; then
  echo "fuzz: build/fuzz/fuzz_selfcheck was not built" >&2
  exit 1
fi
if build/fuzz/fuzz_selfcheck fuzz/selfcheck/overflow.input >/dev/null 2>&1; then
  echo "fuzz: the planted overflow went unnoticed: the fuzz build does not stop at its findings" >&2
  exit 1
fi
echo "fuzz: the planted overflow stops the build's targets"
targets=()
for bin in build/fuzz/*_fuzz; do
  [ -x "$bin" ] && targets+=("$bin")
done
[ ${#targets[@]} -gt 0 ] || { echo "fuzz: no targets built" >&2; exit 1; }
per=$(( budget / ${#targets[@]} ))
[ "$per" -ge 5 ] || per=5
runs_opt=()
[ -n "${AMBIT_FUZZ_RUNS:-}" ] && runs_opt=(-runs="$AMBIT_FUZZ_RUNS")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for bin in "${targets[@]}"; do
  name=$(basename "$bin")
  seeds=fuzz/corpus/${name%_fuzz}
  mkdir -p "$work/$name"
  [ -d "$seeds" ] && cp -r "$seeds"/. "$work/$name"/
  echo "fuzz: $name, ${per}s"
  if ! "$bin" "${runs_opt[@]}" -max_total_time="$per" -print_final_stats=1 "$work/$name" \
        >"$work/$name.log" 2>&1; then
    tail -40 "$work/$name.log"
    status=1
  fi
  grep -E '^stat::number_of_executed_units' "$work/$name.log" || true
done
exit $status
