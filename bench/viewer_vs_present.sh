#!/usr/bin/env bash
# The viewer in a real window under Xvfb against a loop that only presents
# the back buffer, each for SECONDS, alternating ROUNDS times:
#   bench/viewer_vs_present.sh BIN_DIR SRC_DIR [SECONDS] [ROUNDS]
# Prints each run's line: present_bench's rate and groundview --stats.
set -euo pipefail
BIN=$(cd "$1" && pwd)
SRC=$(cd "$2" && pwd)
SECONDS_EACH=${3:-10}
ROUNDS=${4:-3}
SCRATCH=$(mktemp -d /tmp/groundview-present-XXXXXX)
XVFB_PID=
cleanup() {
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
  rm -rf "$SCRATCH"
}
trap cleanup EXIT

for n in $(seq 150 199); do
  [ -e /tmp/.X$n-lock ] && continue
  Xvfb :$n -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
  XVFB_PID=$!
  for _ in $(seq 50); do
    xdpyinfo -display :$n >/dev/null 2>&1 && break
    sleep 0.1
  done
  xdpyinfo -display :$n >/dev/null 2>&1 && { export DISPLAY=:$n; break; }
  kill $XVFB_PID 2>/dev/null || true
  XVFB_PID=
done
[ -n "$XVFB_PID" ] || { echo "no Xvfb display could start" >&2; exit 1; }

cp -r "$SRC/data" "$SCRATCH/data"
cd "$SCRATCH"
for round in $(seq "$ROUNDS"); do
  echo "round $round present_bench: $("$BIN/present_bench" "$SECONDS_EACH")"
  "$BIN/groundview" --windowed --stats >"$SCRATCH/out" 2>"$SCRATCH/err" &
  pid=$!
  window=
  for _ in $(seq 100); do
    window=$(xdotool search --class Allegro 2>/dev/null | head -1 || true)
    [ -n "$window" ] && break
    sleep 0.1
  done
  [ -n "$window" ] || { echo "no viewer window: $(cat "$SCRATCH/err")" >&2; exit 1; }
  sleep "$SECONDS_EACH"
  for _ in $(seq 20); do
    xdotool windowfocus --sync "$window" >/dev/null 2>&1 || true
    [ "$(xdotool getwindowfocus 2>/dev/null)" = "$window" ] && break
    sleep 0.5
  done
  xdotool keydown Escape; sleep 0.3; xdotool keyup Escape
  wait $pid
  echo "round $round groundview --windowed --stats: $(cat "$SCRATCH/out")"
done
