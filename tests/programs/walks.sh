# Walks in a real window: a walk recorded with keys held down and F12 near
# its end plays back to the very same Screen.bmp; --timedemo of it counts
# the same ticks and frames every time; boardtool video makes it into a
# lossless video whose frame at the last screenshot's tick is that
# screenshot pixel for pixel, an MP4 close to it, and a GIF that decodes to
# one frame a tick.
source "$(dirname "$0")/common.bash"

enter_world_copy
start_xvfb

open_viewer "$BIN/groundview" --record walk.walk
sleep 1
focus_window "$window"
hold_key Left 0.6; sleep 0.2
hold_key Up 0.8; sleep 0.2
hold_key F12 0.3; sleep 0.3
quit_viewer $pid
[ $STATUS -eq 0 ] || fail "recording ended with status $STATUS: $(cat "$SCRATCH/err")"
[ -f walk.walk ] && [ -f Screen.bmp ] || fail "the recording wrote no walk or no screenshot"
info=$("$BIN/boardtool" walk-info walk.walk) || fail "walk-info refused the recording"
ticks=$(sed -n 's/^ticks: \([0-9]*\) .*/\1/p' <<<"$info")
keys=$(sed -n 's/^keys: //p' <<<"$info")
[ "${ticks:-0}" -gt 33 ] || fail "the recording holds ${ticks:-no} ticks: $info"
[[ $keys == *left* && $keys == *up* ]] || fail "the held keys are not in the walk: $keys"
# The screenshot left behind is the one of the last tick with F12 held.
shot=$(sed -n 's/^screenshots: [0-9]*, the last at tick \([0-9]*\)$/\1/p' <<<"$info")
[ -n "$shot" ] || fail "F12 is not in the walk: $info"
mv Screen.bmp recorded.bmp

# The replay ends by itself after the walk's last tick; the keyboard is not
# read, so keys held meanwhile change nothing.
start_viewer "$BIN/groundview" --play walk.walk
wait_for_exit $pid 120
[ $STATUS -eq 0 ] || fail "--play ended with status $STATUS: $(cat "$SCRATCH/err")"
cmp -s Screen.bmp recorded.bmp || fail "--play saved another Screen.bmp than the recording"

# --timedemo: one frame per tick, the same counts every run.
timedemo() {
  start_viewer "$BIN/groundview" --timedemo walk.walk
  wait_for_exit $pid 120
  [ $STATUS -eq 0 ] || fail "--timedemo ended with status $STATUS: $(cat "$SCRATCH/err")"
  [[ $(cat "$SCRATCH/out") =~ ^timedemo\ ([0-9]+)\ ticks\ ([0-9]+)\ frames\ [0-9.]+\ seconds\ [0-9.]+\ fps ]] ||
    fail "--timedemo printed '$(cat "$SCRATCH/out")'"
  echo "${BASH_REMATCH[1]} ${BASH_REMATCH[2]}"
}
first=$(timedemo)
second=$(timedemo)
[ "$first" = "$ticks $ticks" ] || fail "--timedemo counted '$first' for a walk of $ticks ticks"
[ "$second" = "$first" ] || fail "--timedemo counted '$first', then '$second'"

# A walk made on another map is refused, naming both, unless --force.
cp data/test.brd other.brd
printf 'x' >>other.brd
start_viewer "$BIN/groundview" --play walk.walk other.brd
wait_for_exit $pid 60
[ $STATUS -eq 1 ] || fail "a walk on another map: status $STATUS"
grep -q "made on the default world .*not on other.brd.*--force" "$SCRATCH/err" ||
  fail "a walk on another map: said '$(cat "$SCRATCH/err")'"

# The video of the walk, the whole frame, lossless: one frame per tick, the
# one of the screenshot's tick the screenshot itself.
"$BIN/boardtool" video 'data\test.brd' walk.walk whole.mkv --frame data/board.bmp || fail "video .mkv failed"
[[ $("$BIN/videocheck" frames whole.mkv) == "frames $ticks size 640x480 codec ffv1 "* ]] ||
  fail "whole.mkv: $("$BIN/videocheck" frames whole.mkv), expected $ticks frames"
[ "$("$BIN/videocheck" compare whole.mkv "$shot" recorded.bmp 0 0)" = "psnr 1000.00 luma 1000.00" ] ||
  fail "frame $shot of whole.mkv is not the screenshot: $("$BIN/videocheck" compare whole.mkv "$shot" recorded.bmp 0 0)"

# The MP4 of the view, each pixel 2 x 2 so that its half-resolution colour
# keeps every pixel's: close to the screenshot's view (the last row, which
# the viewer leaves to the frame picture, left out).
"$BIN/boardtool" video 'data\test.brd' walk.walk view.mp4 --scale 2 || fail "video .mp4 failed"
[[ $("$BIN/videocheck" frames view.mp4) == "frames $ticks size 960x360 codec h264 "* ]] ||
  fail "view.mp4: $("$BIN/videocheck" frames view.mp4)"
psnr=$("$BIN/videocheck" compare view.mp4 "$shot" recorded.bmp 10 8 2 179)
awk -v p="${psnr#psnr }" 'BEGIN { split(p, v, " "); exit !(v[1] >= 35) }' || fail "view.mp4 against the screenshot: $psnr"

# The GIF: one frame per tick, dithered to one palette, near the screenshot.
"$BIN/boardtool" video 'data\test.brd' walk.walk view.gif || fail "video .gif failed"
[[ $("$BIN/videocheck" frames view.gif) == "frames $ticks size 480x180 codec gif "* ]] ||
  fail "view.gif: $("$BIN/videocheck" frames view.gif)"
gif=$("$BIN/videocheck" compare view.gif "$shot" recorded.bmp 10 8 1 179)
awk -v p="${gif#psnr }" 'BEGIN { split(p, v, " "); exit !(v[1] >= 20) }' || fail "view.gif against the screenshot: $gif"
echo "ok: $ticks ticks, keys $keys, screenshot at $shot; mp4 $psnr; gif $gif"
