#!/usr/bin/env bash
# groundview --timedemo against the floor of its frame rate, under Xvfb:
# present_bench (a window that only presents the back buffer) for SECONDS,
# then the timedemo of a 1000-tick walk over the default world, taking
# turns ROUNDS times:
#   bench/timedemo_vs_present.sh BIN_DIR SRC_DIR [SECONDS] [ROUNDS]
set -euo pipefail
BIN=$(cd "$1" && pwd)
SRC=$(cd "$2" && pwd)
SECONDS_EACH=${3:-5}
ROUNDS=${4:-3}
SCRATCH=$(mktemp -d /tmp/groundview-timedemo-XXXXXX)
XVFB_PID=
cleanup() {
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
  rm -rf "$SCRATCH"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp -noreset 3>"$SCRATCH/display" >/dev/null 2>&1 &
XVFB_PID=$!
for _ in $(seq 100); do
  n=$(cat "$SCRATCH/display" 2>/dev/null || true)
  [ -n "$n" ] && xdpyinfo -display ":$n" >/dev/null 2>&1 && break
  sleep 0.1
done
[ -n "${n:-}" ] || { echo "no Xvfb display could start" >&2; exit 1; }
export DISPLAY=":$n"

cp -r "$SRC/data" "$SCRATCH/data"
cd "$SCRATCH"
"$BIN/boardtool" walk new tour.walk --keys "up*200 left*80 up*300 right*40 up*200 left*100 up*80"
for round in $(seq "$ROUNDS"); do
  echo "round $round present_bench: $("$BIN/present_bench" "$SECONDS_EACH")"
  echo "round $round groundview --timedemo: $("$BIN/groundview" --windowed --timedemo tour.walk)"
done
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
