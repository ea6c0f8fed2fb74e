#!/usr/bin/env bash
# The live client's cost end to end: starts ambit-sim on a free loopback
# port with a live market of RATE messages a second (default 100000), runs
# ambit-feed against it for SECONDS (default 10) and prints the feed's cost
# line (messages taken, processor time a message, connecting to online).
# Usage: scripts/feed_costs.sh [BIN_DIR] [RATE] [SECONDS]; BIN_DIR defaults
# to build/release (build it first).
set -euo pipefail
cd "$(dirname "$0")/.."
bin="${1:-build/release}"
rate="${2:-100000}"
seconds="${3:-10}"
out=$(mktemp -d)
sim_pid=
stop_sim() {
  [ -n "$sim_pid" ] || return 0
  kill -TERM "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=
  rm -rf "$out"
}
trap stop_sim EXIT
: >"$out/sim.out"
"$bin/ambit-sim" --port 0 --user demo:demo --live "$rate" >"$out/sim.out" 2>"$out/sim.log" &
sim_pid=$!
port=
for _ in $(seq 100); do
  port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$out/sim.out")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "feed_costs: the simulator did not start" >&2; exit 1; }
timeout --foreground -k 5 $((seconds + 30)) "$bin/ambit-feed" --host 127.0.0.1 -P "$port" -u demo -p demo \
  --seconds "$seconds" --log "$out/feed.log" >"$out/feed.out" || true
[ -z "${FEED_LOG:-}" ] || cp "$out/feed.log" "$FEED_LOG"
grep '^costs:' "$out/feed.out" || { echo "feed_costs: no cost line; the feed's output:" >&2; tail "$out/feed.out" >&2; exit 1; }
