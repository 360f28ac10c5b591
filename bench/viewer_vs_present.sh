#!/usr/bin/env bash
# The viewer in a real window under Xvfb against a loop that only presents
# the back buffer, each for SECONDS, alternating ROUNDS times:
#   bench/viewer_vs_present.sh BIN_DIR SRC_DIR [SECONDS] [ROUNDS]
# Prints each run's line: present_bench's rate and groundview --stats.
# The program tests' helpers: a scratch folder and a private Xvfb.
source "$(dirname "$0")/../tests/programs/common.bash" "$(cd "$1" && pwd)" "$(cd "$2" && pwd)"
SECONDS_EACH=${3:-10}
ROUNDS=${4:-3}
start_xvfb

enter_world_copy
for round in $(seq "$ROUNDS"); do
  echo "round $round present_bench: $("$BIN/present_bench" "$SECONDS_EACH")"
  open_viewer "$BIN/groundview" --stats
  sleep "$SECONDS_EACH"
  focus_window "$window"
  quit_viewer $pid
  echo "round $round groundview --windowed --stats: $(cat "$SCRATCH/out")"
done
