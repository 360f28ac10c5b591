# The viewer at a map maker's desk, in a real window with real keys and
# clicks: a Tiled map of one's own shown twice as large, started where --at
# says, Home back there, Down backward, PageUp and PageDown the eye height,
# a click in the map from above going to that point, the window named after
# the map, and a still map costing next to no processor time. Every view is
# checked through F12 against boardtool render at the pose expected.
source "$(dirname "$0")/common.bash"
source "$(dirname "$0")/ground_map.bash"

# Refusals come before any window opens.
for bad in "--at 1,2,2880" "--at 1" "--at 1,x" "--at 1,2,3,4" "--at nan,2" "--scale 0" "--scale 9" "--scale big"; do
  set +e; "$BIN/groundview" $bad my.tmx >/dev/null 2>"$SCRATCH/err"; status=$?; set -e
  [ $status -eq 2 ] || fail "'$bad' gave status $status"
  grep -q "^groundview: ${bad%% *} " "$SCRATCH/err" || fail "'$bad' said '$(cat "$SCRATCH/err")'"
done

make_ground_map "$SCRATCH/maps"
cd "$SCRATCH"
# Room for a window twice the frame's size.
start_xvfb 1600x1200x24

open_viewer "$BIN/groundview" --stats --scale 2 --at 700.5,900.25,300 -C maps my.tmx
geometry=$(xdotool getwindowgeometry "$window" | sed -n 's/.*Geometry: //p')
[ "$geometry" = 1280x960 ] || fail "--scale 2 made a window of $geometry"
# Without a window manager the pointer must be inside the window for it to
# take keys and clicks.
xdotool mousemove --window "$window" 20 20
sleep 1
focus_window "$window"
[ "$(xdotool getwindowname "$window")" = "my.tmx - groundview" ] ||
  fail "the window is titled '$(xdotool getwindowname "$window")'"

# F12 into maps/Screen.bmp, then the view compared with boardtool render
# of the map at the pose given.
expect_pose() {
  screenshot maps/Screen.bmp "$1"
  (cd maps && "$BIN/boardtool" render my.tmx "$SCRATCH/render.bmp" "${@:2}") || fail "boardtool render failed"
  "$BIN/viewcheck" view maps/Screen.bmp render.bmp || fail "the view is not the one at ${*:2} ($1)"
}
start_pose=(--x 700.5 --y 900.25 --heading 300)
expect_pose "--at" "${start_pose[@]}"

# Idle: nothing moves and nothing animates, so hardly a frame is drawn. It
# takes about 5 % of a core here, half of it Allegro's own input thread; a
# viewer drawing frames back to back takes over half a core.
sleep 0.5
cpu() { awk '{ print $14 + $15 }' "/proc/$pid/stat"; }
before=$(cpu); sleep 3; after=$(cpu)
idle=$(awk -v a="$before" -v b="$after" -v hz="$(getconf CLK_TCK)" 'BEGIN { printf "%.1f", (b - a) / hz / 3 * 100 }')
awk -v p="$idle" 'BEGIN { exit !(p <= 10) }' || fail "standing still took $idle % of a core"

# Walk away, then Home: the start again.
hold_key Up 0.5; sleep 0.3
screenshot maps/Screen.bmp "after Up"
! "$BIN/viewcheck" view maps/Screen.bmp render.bmp 2>/dev/null || fail "Up did not move the viewer"
hold_key Home 0.3; sleep 0.3
expect_pose "Home" "${start_pose[@]}"

# Down walks backward along the heading.
hold_key Down 0.6; sleep 0.3
screenshot maps/Screen.bmp "after Down"
walk=$("$BIN/viewcheck" walk maps/Screen.bmp maps/my.tmx 700.5 900.25 300 14 80) || fail "Down: no walk along the heading"
read -r steps x y <<<"$walk"
[ "$steps" -lt 0 ] || fail "Down walked $steps steps"

# PageUp raises the eye, PageDown lowers it.
hold_key Prior 0.4; sleep 0.3
screenshot maps/Screen.bmp "after PageUp"
high=$("$BIN/viewcheck" height maps/Screen.bmp maps/my.tmx "$x" "$y" 300) || fail "PageUp: no height shows the view"
[ "$high" -gt 14 ] || fail "PageUp left the height index at $high"
hold_key Next 0.2; sleep 0.3
screenshot maps/Screen.bmp "after PageDown"
low=$("$BIN/viewcheck" height maps/Screen.bmp maps/my.tmx "$x" "$y" 300) || fail "PageDown: no height shows the view"
[ "$low" -lt "$high" ] || fail "PageDown took the height index from $high to $low"

# A click in the map from above: window pixel (1061, 149) is frame point
# (530.75, 74.75), 30.75 and 40.75 pixels into the box of 16 units a pixel.
xdotool mousemove --window "$window" 1061 149; sleep 0.2
xdotool mousedown 1; sleep 0.1; xdotool mouseup 1; sleep 0.3
expect_pose "click" --x 492 --y 652 --heading 300 --height "$low"

quit_viewer $pid
[ $STATUS -eq 0 ] || fail "viewer ended with status $STATUS: $(cat "$SCRATCH/err")"
stats=$(cat "$SCRATCH/out")
[[ $stats =~ ^frames\ ([0-9]+)\ ticks\ ([0-9]+) ]] || fail "--stats printed '$stats'"
# A frame only for a tick that changed something (and the first).
[ "${BASH_REMATCH[1]}" -le $((BASH_REMATCH[2] + 1)) ] || fail "more frames than ticks on a still map: $stats"
# --scale fit: the largest whole factor the 1600 x 1200 screen allows.
open_viewer "$BIN/groundview" --scale fit -C maps my.tmx
geometry=$(xdotool getwindowgeometry "$window" | sed -n 's/.*Geometry: //p')
[ "$geometry" = 1280x960 ] || fail "--scale fit made a window of $geometry on a 1600x1200 screen"
xdotool mousemove --window "$window" 20 20
focus_window "$window"
quit_viewer $pid
[ $STATUS -eq 0 ] || fail "viewer with --scale fit ended with status $STATUS: $(cat "$SCRATCH/err")"
echo "ok: idle $idle % of a core; walked back $steps steps; height $high then $low; $stats"
