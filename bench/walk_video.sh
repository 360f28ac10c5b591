#!/usr/bin/env bash
# boardtool video against real time: a walk of 1000 ticks (30.3 s at 33
# ticks a second) over the default world, made into each kind of video,
# timed by the wall clock and by CPU time:
#   bench/walk_video.sh BIN_DIR SRC_DIR [EXTENSION...]   (default: mp4)
# The default world's images are named relative to SRC_DIR, so the video is
# made there; the walk and the videos go to a scratch directory.
set -euo pipefail
BIN=$(cd "$1" && pwd)
SRC=$(cd "$2" && pwd)
shift 2
extensions=("$@")
[ ${#extensions[@]} -gt 0 ] || extensions=(mp4)
SCRATCH=$(mktemp -d /tmp/groundview-walk-video-XXXXXX)
trap 'rm -rf "$SCRATCH"' EXIT

cd "$SRC"
"$BIN/boardtool" walk new "$SCRATCH/tour.walk" --map data/test.brd \
  --keys "up*200 left*80 up*300 right*40 up*200 left*100 up*80"
ticks=$("$BIN/boardtool" walk-info "$SCRATCH/tour.walk" | sed -n 's/^ticks: \([0-9]*\) .*/\1/p')
for ext in "${extensions[@]}"; do
  start=$(date +%s.%N)
  /usr/bin/time -f "%U %S" -o "$SCRATCH/cpu" "$BIN/boardtool" video data/test.brd "$SCRATCH/tour.walk" "$SCRATCH/tour.$ext"
  end=$(date +%s.%N)
  read -r user sys <"$SCRATCH/cpu"
  awk -v t="$ticks" -v a="$start" -v b="$end" -v u="$user" -v s="$sys" -v e="$ext" \
    -v size="$(stat -c %s "$SCRATCH/tour.$ext")" 'BEGIN {
      wall = b - a
      printf "video .%s: %d ticks (%.1f s of walk) in %.2f s (CPU %.2f s user, %.2f s system): %.1f frames a second, %.1fx real time, %d bytes\n",
             e, t, t / 33, wall, u, s, t / wall, (t / 33) / wall, size }'
done
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
