# The viewer over a minute: with Left and Up held it turns full circles and
# walks out across the map's edge and back again and again, and F12 saves
# the screen now and then. It must consume 33 ticks a second within 1 %,
# keep its resident memory flat once started, and end with status 0 on Esc.
source "$(dirname "$0")/common.bash"

# A sanitizer's own bookkeeping grows the resident memory of everything it
# watches; this test needs the viewer as built for use.
if [[ $(ldd "$BIN/groundview") == *libasan* ]]; then
  echo "skipped: the viewer is built with AddressSanitizer"
  exit 77
fi

RUN_SECONDS=60
SAMPLE_EVERY=5
# The first samples are left out of the comparison: the first frames map
# Xvfb's shared pixmaps and fault in the code and the images, and the first
# F12 makes save_bmp's buffers.
SETTLE_SECONDS=10
# Growth allowed after that, in kB: 64 pages, room for malloc trimming and
# refilling its arenas and the X library growing a buffer. A steady leak does
# not fit in it: in the 50 s compared the viewer runs about 1650 ticks and,
# even at a slow 100 frames a second, 5000 frames, so 160 bytes lost a tick
# or 52 bytes a frame would pass it.
RSS_TOLERANCE_KB=256

enter_world_copy
start_xvfb

open_viewer "$BIN/groundview" --stats
focus_window "$window"

rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }

# F12 at three moments; each press must leave a new Screen.bmp, and the
# pictures must differ, since the viewer is turning and moving meanwhile.
press_f12() {
  rm -f Screen.bmp
  hold_key F12 0.3
  for _ in $(seq 20); do [ -s Screen.bmp ] && break; sleep 0.1; done
  [ -s Screen.bmp ] || fail "F12 saved no Screen.bmp"
  mv Screen.bmp "$1"
}

xdotool keydown Left keydown Up
samples=()
started=$SECONDS
for t in $(seq $SAMPLE_EVERY $SAMPLE_EVERY $RUN_SECONDS); do
  sleep $((started + t - SECONDS))
  kill -0 $pid 2>/dev/null || fail "the viewer ended after $t s: $(cat "$SCRATCH/err")"
  samples+=("$t:$(rss_kb $pid)")
  case $t in
    5) press_f12 shot1.bmp ;;
    30) press_f12 shot2.bmp ;;
    55) press_f12 shot3.bmp ;;
  esac
done
xdotool keyup Up keyup Left
hold_key Escape 0.5
wait_for_exit $pid 20
[ $STATUS -eq 0 ] || fail "the viewer ended with status $STATUS: $(cat "$SCRATCH/err")"

cmp -s shot1.bmp shot2.bmp && fail "the screen did not change between F12 at 5 s and at 30 s"
cmp -s shot2.bmp shot3.bmp && fail "the screen did not change between F12 at 30 s and at 55 s"

# "frames N ticks N seconds S fps F tps T"
read -r _ frames _ ticks _ seconds _ fps _ tps <"$SCRATCH/out" || fail "no --stats line: $(cat "$SCRATCH/out")"
echo "stats: $(cat "$SCRATCH/out")"
echo "VmRSS kB at seconds: ${samples[*]}"
awk -v tps="$tps" 'BEGIN { exit !(tps >= 33 * 0.99 && tps <= 33 * 1.01) }' ||
  fail "$tps ticks a second, not 33 within 1 %"

baseline=
peak=0
for sample in "${samples[@]}"; do
  t=${sample%%:*} kb=${sample#*:}
  [ "$t" -lt $SETTLE_SECONDS ] && continue
  [ -z "$baseline" ] && baseline=$kb
  [ "$kb" -gt "$peak" ] && peak=$kb
done
growth=$((peak - baseline))
echo "VmRSS growth after ${SETTLE_SECONDS} s: ${growth} kB (allowed ${RSS_TOLERANCE_KB})"
[ $growth -le $RSS_TOLERANCE_KB ] || fail "resident memory grew by $growth kB after the first $SETTLE_SECONDS s"
echo ok
