# The whole viewer in a real window: keys held down turn and move it, F12
# writes Screen.bmp, Esc ends it with status 0 and --stats reports the run.
# The screenshot must show the frame picture around the view, and in the
# view exactly what boardtool renders for the pose the keys produced.
source "$(dirname "$0")/common.bash"

enter_world_copy
start_xvfb

open_viewer "$BIN/groundview" --stats

sleep 2
focus_window "$window"
hold_key Left 0.8; sleep 0.5
hold_key Up 1.2; sleep 0.5
hold_key F12 0.4; sleep 0.5
quit_viewer $pid
[ $STATUS -eq 0 ] || fail "viewer ended with status $STATUS: $(cat "$SCRATCH/err")"

# --stats: one line with the counts and rates of the run.
stats=$(cat "$SCRATCH/out")
[[ $stats =~ ^frames\ ([0-9]+)\ ticks\ ([0-9]+)\ seconds\ ([0-9.]+)\ fps\ ([0-9.]+)\ tps\ ([0-9.]+)$ ]] ||
  fail "--stats printed '$stats'"
frames=${BASH_REMATCH[1]} ticks=${BASH_REMATCH[2]} tps=${BASH_REMATCH[5]}
[ "$frames" -gt 0 ] && [ "$ticks" -gt 0 ] || fail "--stats counted nothing: $stats"
# The logic keeps to 33 ticks a second; allow for a loaded machine.
awk -v t="$tps" 'BEGIN { exit !(t >= 15 && t <= 50) }' || fail "ticks per second off: $stats"

[ -f Screen.bmp ] || fail "F12 wrote no Screen.bmp"

# The pose the keys produced: a heading some turns to the left, some steps
# forward, and the animation's phase; the helper finds it from the picture.
pose=$("$BIN/viewcheck" pose Screen.bmp data/board.bmp 'data\test.brd' 200) ||
  fail "the screenshot shows no pose the keys allow"
read -r x y angle ticks <<<"$pose"
[ "$angle" -gt 0 ] && [ "$angle" -le 1440 ] || fail "Left was not seen: pose $pose"
[ "$x" != 480 ] || [ "$y" != 480 ] || fail "Up was not seen: pose $pose"

# The same view from boardtool.
"$BIN/boardtool" render 'data\test.brd' render.bmp --x="$x" --y="$y" --heading="$angle" \
  --ticks="$ticks" || fail "boardtool render failed"
"$BIN/viewcheck" view Screen.bmp render.bmp || fail "the view differs from boardtool render at $pose"

# A Screen.bmp that links to the map: F12 never writes through it; the
# viewer says so once, however long F12 is held, and goes on.
rm Screen.bmp
ln -s data/test.brd Screen.bmp
map=$(md5sum <data/test.brd)
open_viewer "$BIN/groundview"
sleep 1
focus_window "$window"
hold_key F12 0.4; sleep 0.3
quit_viewer $pid
[ $STATUS -eq 0 ] || fail "with a linked Screen.bmp: status $STATUS: $(cat "$SCRATCH/err")"
[ "$(md5sum <data/test.brd)" = "$map" ] || fail "F12 wrote through the link into the map"
[ -L Screen.bmp ] || fail "the link Screen.bmp was replaced"
[ "$(cat "$SCRATCH/err")" = "groundview: screenshot Screen.bmp: not written: is a symbolic link; nothing is written through it" ] ||
  fail "with a linked Screen.bmp: said '$(cat "$SCRATCH/err")'"

# TERM, INT and HUP end the viewer as Esc does: the loop ends (its --stats
# line is printed) and the status is 0, at whatever moment the signal comes,
# also in the middle of drawing; a walk being recorded is saved.
for round in 1 2 3 4 5 6; do
  signal=$(echo TERM INT HUP | cut -d' ' -f$(((round - 1) % 3 + 1)))
  open_viewer "$BIN/groundview" --stats
  sleep "0.$((RANDOM % 10))"
  kill -s "$signal" $pid
  wait_for_exit $pid 10
  [ $STATUS -eq 0 ] && [[ $(cat "$SCRATCH/out") == frames\ * ]] ||
    fail "SIG$signal, round $round: status $STATUS, printed '$(cat "$SCRATCH/out")', said '$(cat "$SCRATCH/err")'"
done
open_viewer "$BIN/groundview" --record signalled.walk
sleep 1
kill -s INT $pid
wait_for_exit $pid 10
[ $STATUS -eq 0 ] || fail "SIGINT while recording: status $STATUS: $(cat "$SCRATCH/err")"
"$BIN/boardtool" walk-info signalled.walk >/dev/null || fail "SIGINT while recording saved no walk"

# A map that is a FIFO is refused at once.
mv data/test.brd data/real.brd
mkfifo data/test.brd
start_viewer "$BIN/groundview"
wait_for_exit $pid 20
[ $STATUS -eq 1 ] || fail "test.brd a FIFO: status $STATUS, expected 1"
[ "$(cat "$SCRATCH/err")" = "groundview: data/test.brd: is a FIFO, not a regular file" ] ||
  fail "test.brd a FIFO: said '$(cat "$SCRATCH/err")'"
rm data/test.brd
mv data/real.brd data/test.brd

# A map that cannot be loaded stops the viewer before its loop, with the
# loader's reason and status 1.
rm data/test.brd
start_viewer "$BIN/groundview"
wait_for_exit $pid 60
[ $STATUS -eq 1 ] || fail "without test.brd: status $STATUS, expected 1"
grep -q '^groundview: .*test\.brd' "$SCRATCH/err" || fail "without test.brd: said '$(cat "$SCRATCH/err")'"
[ ! -s "$SCRATCH/out" ] || fail "without test.brd: printed '$(cat "$SCRATCH/out")'"
echo "ok: pose $pose; $stats"
