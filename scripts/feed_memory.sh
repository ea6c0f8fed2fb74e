#!/usr/bin/env bash
# The headless client's memory through a simulated trading day: ambit-sim
# serves a generated exchange of STOCKS stocks as the catch-up snapshot and a
# live market of RATE messages a second; ambit-feed keeps the model for
# SECONDS. Printed: the feed's resident size every SAMPLE seconds, its size
# once online (the snapshot's model), its peak (VmHWM), the messages taken,
# and the growth per message after the first WARM seconds (before then the
# cut events of the housekeeping trims wait out the deferred-free delay, so
# the size climbs to a plateau that depends on the rate, not on the day).
#
# RATE x SECONDS messages are a trading day at RATE x SECONDS / 21600
# messages a second (six hours): e.g. 100000 x 216 is a day at 1000 a second.
#
# Usage: scripts/feed_memory.sh [BIN_DIR] [STOCKS] [RATE] [SECONDS]
#   defaults: build/release, 5000 stocks, 100000 messages a second, 60 s;
#   WARM (default 20) and SAMPLE (default 5) from the environment.
set -euo pipefail
cd "$(dirname "$0")/.."
bin="${1:-build/release}"
stocks="${2:-5000}"
rate="${3:-100000}"
seconds="${4:-60}"
warm="${WARM:-20}"
sample="${SAMPLE:-5}"
out=$(mktemp -d /tmp/ambit-feedmem-XXXXXX)
pids=()
stop_all() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill -TERM "${pids[$i]}" 2>/dev/null || true
    # A simulator deep in a flood may take its time; not for ever.
    for _ in $(seq 50); do kill -0 "${pids[$i]}" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "${pids[$i]}" 2>/dev/null; then
      echo "feed_memory: pid ${pids[$i]} still running 5 s after SIGTERM; killed" >&2
      kill -KILL "${pids[$i]}" 2>/dev/null || true
    fi
    wait "${pids[$i]}" 2>/dev/null || true
  done
  [ -n "${KEEP:-}" ] || rm -rf "$out"
}
trap stop_all EXIT

: >"$out/sim.out"
"$bin/ambit-sim" --port 0 --user demo:demo --snapshot "$stocks" --live "$rate" >"$out/sim.out" 2>"$out/sim.log" &
pids+=($!)
port=
for _ in $(seq 300); do
  port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$out/sim.out")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "feed_memory: the simulator did not start" >&2; exit 1; }
: >"$out/feed.out"
"$bin/ambit-feed" --host 127.0.0.1 -P "$port" -u demo -p demo --seconds "$seconds" \
  --log "$out/feed.log" >"$out/feed.out" &
feed=$!
pids+=($feed)
kb() { awk -v k="$1" '$1 == k":" { print $2 }' /proc/"$feed"/status 2>/dev/null || true; }

# The size once online: the first status line on standard output.
online_kb=
for _ in $(seq 600); do
  if grep -q -i 'online' "$out/feed.out" 2>/dev/null; then online_kb=$(kb VmRSS); break; fi
  kill -0 "$feed" 2>/dev/null || break
  sleep 0.1
done
t0=$(date +%s.%N)
warm_kb=
hwm=0
echo "rss (seconds online: kB):"
while kill -0 "$feed" 2>/dev/null; do
  now=$(date +%s.%N)
  s=$(echo "$now - $t0" | bc | cut -d. -f1)
  r=$(kb VmRSS)
  h=$(kb VmHWM)
  [ -n "$h" ] && hwm=$h
  [ -n "$r" ] && printf ' %s:%s' "${s:-0}" "$r"
  if [ -z "$warm_kb" ] && [ "${s:-0}" -ge "$warm" ] && [ -n "$r" ]; then
    warm_kb=$r
    warm_t=$now
  fi
  [ -n "$r" ] && last_kb=$r last_t=$now
  sleep "$sample"
done
echo
wait "$feed" || true
pids=("${pids[0]}")
cost=$(grep '^costs:' "$out/feed.out" || true)
msgs=$(echo "$cost" | awk '{ print $2 }')
echo "stocks $stocks, rate $rate messages/s, $seconds s: ${cost:-no cost line}"
echo "online: ${online_kb:-?} kB; peak (VmHWM): $hwm kB"
if [ -z "$warm_kb" ] || [ "$(echo "$last_t > $warm_t" | bc)" != 1 ]; then
  echo "no growth figure: the run must last longer than the warm-up ($warm s) and a sample"
elif [ -n "${msgs:-}" ] && [ "$msgs" -gt 0 ]; then
  # Messages after the warm-up, at the run's mean rate.
  secs=$(echo "$last_t - $warm_t" | bc)
  per=$(echo "$msgs / ($last_t - $t0)" | bc -l)
  awk -v a="$warm_kb" -v b="$last_kb" -v s="$secs" -v r="$per" 'BEGIN {
    n = r * s
    per = (n > 0) ? (b - a) * 1024 / n : 0
    printf "after the warm-up: %d kB to %d kB over %.0f s, about %.0f messages: %.1f bytes a message\n", a, b, s, n, per
  }'
fi
