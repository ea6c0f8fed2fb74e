#!/usr/bin/env bash
# The terminal's responsiveness under a live market, measured as a user sees
# it: a private X server (Xvfb, Mesa's software renderer), ambit-sim with its
# demo scenario and a live market of RATE messages a second, and Ambit signed
# on to it with its desktop laid out in four and a "Top Rises" grid in each
# window. Then the help key ("h") is pressed TRIALS times (show, hide, ...);
# after each press the middle of the screen is read back until it shows the
# new state (scripts/latency_probe.cpp). Printed: every latency, the
# percentiles, the processor time of each of the terminal's threads over the
# trials (in % of one core), and the terminal's resident size each second.
#
# Usage: scripts/latency.sh [BIN_DIR] [RATE] [TRIALS] [IDLE_SECONDS]
#   BIN_DIR defaults to build/release (build Ambit and ambit-sim there);
#   RATE 0 means no live market. IDLE_SECONDS (default 10) of untouched
#   running are sampled for processor time before the trials (with
#   PERF=FILE in the environment, also profiled into FILE by perf record,
#   with PERF_ARGS as its options, "-F 499 -g" unless given; PERF_KEYS=FILE
#   profiles the key presses likewise).
# Needs Xvfb, xdotool and a C++ compiler with the X11 headers.
set -euo pipefail
cd "$(dirname "$0")/.."
bin="$(cd "${1:-build/release}" && pwd)"
rate="${2:-20000}"
trials="${3:-40}"
idle="${4:-10}"
out=$(mktemp -d /tmp/ambit-latency-XXXXXX)
pids=()
stop_all() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill -TERM "${pids[$i]}" 2>/dev/null || true
    wait "${pids[$i]}" 2>/dev/null || true
  done
  [ -n "${KEEP:-}" ] || rm -rf "$out"
}
trap stop_all EXIT

c++ -O2 -o "$out/probe" scripts/latency_probe.cpp -lX11 -ldl

# Waits up to $2 tenths of a second for the command $1 to succeed.
wait_for() {
  for _ in $(seq "$2"); do
    if eval "$1"; then return 0; fi
    sleep 0.1
  done
  return 1
}

exec 3>"$out/display"
Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp >"$out/xvfb.log" 2>&1 &
pids+=($!)
wait_for '[ -s "$out/display" ]' 100 || { echo "latency: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -1 "$out/display")"

live=()
[ "$rate" = 0 ] || live=(--live "$rate")
"$bin/ambit-sim" --port 0 --user demo:demo --scenario demo "${live[@]}" >"$out/sim.out" 2>"$out/sim.log" &
pids+=($!)
wait_for 'grep -q "^listening on" "$out/sim.out"' 100 || { echo "latency: the simulator did not start" >&2; exit 1; }
port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$out/sim.out")

mkdir -p "$out/home"
XDG_DATA_HOME="$out/home" "$bin/Ambit" -h 127.0.0.1 -P "$port" -u demo -p demo --log >"$out/ambit.out" 2>&1 &
app=$!
pids+=($app)
logf="$out/home/Ambit/log.txt"
# The window first; the sign-on and the first draw follow within moments
# (the log file is not waited on: older builds wrote it late).
wait_for 'xdotool search --name "^Ambit" >/dev/null 2>&1' 300 || { echo "latency: no terminal window" >&2; exit 1; }
sleep 4
win=$(xdotool search --name "^Ambit" | head -1)
xdotool windowfocus --sync "$win" 2>/dev/null || xdotool windowfocus "$win"
sleep 1
# Four windows, each showing the top rises of the live market.
xdotool type --delay 60 "/4"
sleep 1
for _ in 1 2 3 4; do
  xdotool key r
  sleep 0.3
  xdotool key Tab
  sleep 0.3
done
sleep 3

# Processor time of each thread, as "tid name ticks" lines.
thread_ticks() {
  for t in /proc/"$app"/task/*; do
    [ -r "$t/stat" ] || continue
    # The name is between parentheses and may hold blanks.
    local s name rest
    s=$(cat "$t/stat" 2>/dev/null) || continue
    name=${s#*(}
    name=${name%)*}
    rest=${s##*) }
    set -- $rest
    echo "${t##*/} ${name// /_} $((${12} + ${13}))"
  done
}
hz=$(getconf CLK_TCK)
# Prints every thread's share of one core between two thread_ticks snapshots.
cpu_report() {
  local label=$1 before=$2 after=$3 secs=$4
  echo "cpu ($label, ${secs}s, % of one core):"
  awk -v hz="$hz" -v secs="$secs" -v main="$app" '
    NR == FNR { t0[$1] = $3; next }
    {
      d = $3 - ($1 in t0 ? t0[$1] : 0); tot += d
      # The main (interface) thread by its id; the renderer workers together.
      n = $1 == main ? "main" : $2 ~ /^llvmpipe/ ? "llvmpipe(all)" : $2 ":" $1
      by[n] += d
    }
    END {
      for (n in by) if (by[n] > 0) printf "  %-16s %6.1f\n", n, 100 * by[n] / hz / secs
      printf "  %-16s %6.1f\n", "total", 100 * tot / hz / secs
    }' "$before" "$after" | sort -k2 -nr
}
rss_kb() { awk '/^VmRSS/ { print $2 }' /proc/"$app"/status; }

# Resident size once a second for the rest of the run.
(
  s=0
  while kill -0 "$app" 2>/dev/null; do
    echo "rss $s $(rss_kb 2>/dev/null || echo 0)"
    s=$((s + 1))
    sleep 1
  done
) >"$out/rss.txt" &
pids+=($!)

thread_ticks >"$out/t0"
t0=$(date +%s.%N)
if [ -n "${PERF:-}" ]; then
  # PERF=FILE: a profile of the untouched seconds, for perf report -i FILE.
  # shellcheck disable=SC2086
  perf record -q ${PERF_ARGS:--F 499 -g} -p "$app" -o "$PERF" -- sleep "$idle" >/dev/null 2>&1 || echo "latency: perf failed" >&2
else
  sleep "$idle"
fi
thread_ticks >"$out/t1"
t1=$(date +%s.%N)
perf_keys=
if [ -n "${PERF_KEYS:-}" ]; then
  # PERF_KEYS=FILE: a profile of the key presses (with PERF_ARGS as well).
  # shellcheck disable=SC2086
  perf record -q ${PERF_ARGS:--F 499 -g} -p "$app" -o "$PERF_KEYS" >/dev/null 2>&1 &
  perf_keys=$!
fi
"$out/probe" keys h "$trials" >"$out/probe.out" || { cat "$out/probe.out"; echo "latency: the probe failed" >&2; exit 1; }
if [ -n "$perf_keys" ]; then
  kill -INT "$perf_keys" 2>/dev/null || true
  wait "$perf_keys" 2>/dev/null || true
fi
thread_ticks >"$out/t2"
t2=$(date +%s.%N)

echo "rate $rate messages/s, $trials presses of h, load: $(cut -d' ' -f1-3 /proc/loadavg)"
grep -v '^latency_ms' "$out/probe.out"
echo "latencies (ms): $(awk '/^latency_ms/ { printf "%s ", $2 }' "$out/probe.out")"
sorted=$(awk '/^latency_ms/ { print $2 }' "$out/probe.out" | sort -n)
n=$(echo "$sorted" | grep -c . || true)
if [ "$n" -gt 0 ]; then
  pick() { echo "$sorted" | sed -n "$(( ($1 * n + 99) / 100 > 0 ? ($1 * n + 99) / 100 : 1 ))p"; }
  echo "percentiles: p10 $(pick 10) p50 $(pick 50) p90 $(pick 90) p99 $(pick 99)"
fi
cpu_report "untouched" "$out/t0" "$out/t1" "$(echo "$t1 - $t0" | bc)"
cpu_report "during the key presses" "$out/t1" "$out/t2" "$(echo "$t2 - $t1" | bc)"
echo "rss (seconds since the grids, kB): $(awk '{ printf "%s:%s ", $2, $3 }' "$out/rss.txt")"
echo "log: $(grep -c 'set quality' "$logf" || true) quality lines"
# The frame loop's own split of its time and its frames, logged every ten
# seconds.
grep ' loop: ' "$logf" || true
