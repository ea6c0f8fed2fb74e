#!/usr/bin/env bash
# The screen tour: the real terminal signed on to the simulator's live
# market under a private Xvfb (1920x1200) with openbox, driven by xdotool
# the way a new user would: a stock typed in, every window role the keys
# reach in turn, the tool panels, the help window, a company profile
# document, the configuration dialog and the logout page, with a PNG of the
# screen at every stop (ambit-shot). The terminal's log is kept beside the
# pictures; the tour fails when the log shows a GL error.
#
# Usage: scripts/tour.sh [BIN_DIR [OUT_DIR]]   (defaults build/debug and
# BIN_DIR/tour). BIN_DIR must hold Ambit, ambit-sim and ambit-shot.
# AMBIT_TOUR_SCREEN sets the display's size (default 1920x1200), to see the
# windows give way to narrower column sets on a small screen.
set -Eeuo pipefail
cd "$(dirname "$0")/.."
bin="${1:-build/debug}"
out="${2:-$bin/tour}"
for p in Ambit ambit-sim ambit-shot; do
  [ -x "$bin/$p" ] || { echo "tour: $bin/$p is missing (build it first)" >&2; exit 2; }
done
mkdir -p "$out"
rm -f "$out"/*.png
work=$(mktemp -d /tmp/ambit-tour-XXXXXX)

# The tour's own stderr, kept: the shell may end inside a call whose output
# goes to /dev/null (a wait_for step), and its last words must still show.
# The programs left running do not get it (4>&-): ctest waits for every
# holder of the output to close it.
exec 4>&2

pids=()
cleanup() {
  local rc=$?
  [ "$rc" -eq 0 ] || echo "tour: ended with status $rc after ${SECONDS}s" >&4
  # A tour that fails says what the terminal and the simulator said last.
  if [ "$rc" -ne 0 ]; then
    for f in "$work/openbox.log" "$out/Ambit.log" "$out/Ambit.out" "$out/ambit-sim.log"; do
      [ -s "$f" ] && { echo "tour: the end of $f:" >&4; tail -n 25 "$f" >&4; }
    done
  fi
  # Newest first, each gone before the next is asked: the terminal quits
  # (signs off, saves) while its X server and simulator are still there.
  # Only a child still running is signalled: one that ended is reaped by
  # the shell at once, and its pid may be another process's by now.
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    local p=${pids[i]}
    jobs -pr | grep -qx "$p" || continue
    kill -TERM "$p" 2>/dev/null || continue
    for _ in $(seq 100); do jobs -pr | grep -qx "$p" || break; sleep 0.1; done
    jobs -pr | grep -qx "$p" && kill -KILL "$p" 2>/dev/null
    wait "$p" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT
# A stop from outside says so (a silent exit would hide who stopped it).
trap 'echo "tour: stopped by a signal near line $LINENO" >&4; exit 143' TERM INT
trap 'echo "tour: line $LINENO failed: $BASH_COMMAND" >&2' ERR

# Where the tour has got to, with the seconds since it started: a tour that
# fails shows its last step among its output.
say() { echo "tour: ${SECONDS}s: $*" >&2; }

# Waits until the command succeeds, at most $1 tenths of a second.
wait_for() {
  local tenths=$1
  shift
  for _ in $(seq "$tenths"); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}

# A private X server on a free display number, then the window manager.
screen="${AMBIT_TOUR_SCREEN:-1920x1200}"
[[ "$screen" =~ ^[0-9]+x[0-9]+$ ]] || { echo "tour: AMBIT_TOUR_SCREEN must read WIDTHxHEIGHT" >&2; exit 2; }
exec 3<> <(:)
Xvfb -displayfd 3 -screen 0 "${screen}x24" -nolisten tcp >"$work/xvfb.log" 2>&1 4>&- &
pids+=($!)
read -r -t 10 dpy <&3 || { echo "tour: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$dpy"
say "X server on $DISPLAY"
openbox >"$work/openbox.log" 2>&1 4>&- &
pids+=($!)
# Ready when it lists window activation among what it supports: the
# property xdotool checks before it activates a window.
wm_ready() { [[ "$(xprop -root _NET_SUPPORTED)" == *_NET_ACTIVE_WINDOW* ]]; }
wait_for 100 wm_ready || { echo "tour: the window manager did not start" >&2; exit 1; }
say "window manager started"

# The simulator with a live market and an announcement every 15 seconds.
"$bin/ambit-sim" --port 0 --scenario demo --user demo:demo --live 40 --news 15 >"$work/sim.out" \
  2>"$out/ambit-sim.log" 4>&- &
pids+=($!)
port=
for _ in $(seq 100); do
  port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/sim.out")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "tour: the simulator did not start" >&2; exit 1; }
say "simulator on port $port"

# The terminal, with a data tree of its own, signed on at once.
export HOME="$work/home" XDG_DATA_HOME="$work/home/data"
mkdir -p "$XDG_DATA_HOME"
"$bin/Ambit" -h 127.0.0.1 -P "$port" -u demo -p demo >"$out/Ambit.out" 2>"$out/Ambit.log" 4>&- &
ambit=$!
pids+=($ambit)
online() { grep -q 'demo signed on' "$out/ambit-sim.log"; }
wait_for 600 online || { echo "tour: the terminal did not sign on" >&2; tail -20 "$out/Ambit.log" >&2; exit 1; }
say "terminal signed on"
# Sets WIDTH and HEIGHT to window $1's size; fails when the window is gone
# (the login box and the splash go between a search and this).
geometry() {
  local g
  WIDTH= HEIGHT=
  g=$(xdotool getwindowgeometry --shell "$1" 2>/dev/null) || return 1
  WIDTH=$(sed -n 's/^WIDTH=\([0-9]*\)$/\1/p' <<<"$g")
  HEIGHT=$(sed -n 's/^HEIGHT=\([0-9]*\)$/\1/p' <<<"$g")
  [ -n "$WIDTH" ] && [ -n "$HEIGHT" ]
}
win=
# The screen window: the largest visible window named Ambit (the login box
# and the splash come and go before it).
find_win() {
  win=
  local best=0 id
  for id in $(xdotool search --onlyvisible --name '^Ambit$' 2>/dev/null || true); do
    geometry "$id" || continue
    if [ "$((WIDTH * HEIGHT))" -gt "$best" ]; then
      best=$((WIDTH * HEIGHT))
      win=$id
    fi
  done
  [ -n "$win" ] && [ "$best" -gt 250000 ]
}
wait_for 300 find_win || { echo "tour: no terminal window" >&2; exit 1; }
say "terminal window $win"

n=0
# One stop: let the live market move the windows for a moment (pacing for
# the picture, not a synchronisation), then save the screen.
shot() {
  sleep "${AMBIT_TOUR_PAUSE:-1.5}"
  n=$((n + 1))
  "$bin/ambit-shot" "$out/$(printf '%02d' "$n")-$1.png"
  kill -0 "$ambit" 2>/dev/null || { echo "tour: the terminal ended at $1" >&2; exit 1; }
}
# Keys go to the window under the pointer: it rests over the desktop's middle.
key() {
  wait_for 100 find_win || { echo "tour: the terminal window went away" >&2; exit 1; }
  xdotool windowactivate --sync "$win" mousemove --window "$win" 700 500 key --clearmodifiers "$@"
}
# Return opens the typed entry, Return again runs it.
typed() {
  key Return
  wait_for 100 find_win || { echo "tour: the terminal window went away" >&2; exit 1; }
  xdotool windowactivate --sync "$win" mousemove --window "$win" 700 500 type --delay 40 "$1"
  key Return
}

code=$(grep -o 'code [A-Z0-9]*' "$out/ambit-sim.log" | head -1 | cut -d' ' -f2 || true)
code="${code:-AAB}"
# A few more of the demo market's stocks, for the alerts window.
codes="$code AOH APS AKA AMW"
shot start
typed "$code"
shot depth
key t
shot course-of-sales
key c
shot chart
key a
shot announcement-history
key n
shot announcements-today
key r
shot rises-and-falls
key v
shot top-volume
key i
shot index-list
key alt+a
shot alerts
# "+" and codes add alerts to the alerts window.
typed "+$codes"
shot alerts-added
typed "$code"
key ctrl+p
shot tool-panel
key ctrl+p
key h
shot help
key h
key p
shot profile-document
# The configuration dialog: the left toolbar's "Setting" button, at the
# toolbar's foot.
wait_for 100 find_win || { echo "tour: the terminal window went away" >&2; exit 1; }
geometry "$win" || { echo "tour: the terminal window went away" >&2; exit 1; }
xdotool windowactivate --sync "$win" mousemove --window "$win" 24 $((HEIGHT - 66)) click 1
shot configuration
# The logout page: the "Logout" button beside it.
xdotool windowactivate --sync "$win" mousemove --window "$win" 81 $((HEIGHT - 66)) click 1
shot logout-page

# The terminal's own log file lives in its data tree.
find "$HOME" -name log.txt -exec cat {} + >>"$out/Ambit.log" 2>/dev/null || true
if grep -q 'glerror\|gfx errors ignored' "$out/Ambit.log"; then
  echo "tour: GL errors in the terminal's log ($out/Ambit.log):" >&2
  grep 'glerror\|gfx errors ignored' "$out/Ambit.log" | head -5 >&2
  exit 1
fi
echo "tour: $n pictures in $out"
