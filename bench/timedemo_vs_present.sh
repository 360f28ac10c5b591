#!/usr/bin/env bash
# groundview --timedemo against the floor of its frame rate, under Xvfb:
# present_bench (a window that only presents the back buffer) for SECONDS,
# then the timedemo of a 1000-tick walk over the default world, taking
# turns ROUNDS times:
#   bench/timedemo_vs_present.sh BIN_DIR SRC_DIR [SECONDS] [ROUNDS]
# The program tests' helpers: a scratch folder and a private Xvfb.
source "$(dirname "$0")/../tests/programs/common.bash" "$(cd "$1" && pwd)" "$(cd "$2" && pwd)"
SECONDS_EACH=${3:-5}
ROUNDS=${4:-3}
start_xvfb

enter_world_copy
"$BIN/boardtool" walk new tour.walk --keys "up*200 left*80 up*300 right*40 up*200 left*100 up*80"
for round in $(seq "$ROUNDS"); do
  echo "round $round present_bench: $("$BIN/present_bench" "$SECONDS_EACH")"
  echo "round $round groundview --timedemo: $("$BIN/groundview" --windowed --timedemo tour.walk)"
done
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
