# The viewer starts in a real window and ends cleanly; without a display or a
# frame picture it stops with a message and status 1, never a crash.
source "$(dirname "$0")/common.bash"

enter_world_copy

# No display at all.
set +e
out=$(env -u DISPLAY "$BIN/groundview" 2>&1); status=$?
set -e
[ $status -eq 1 ] || fail "without DISPLAY: status $status, expected 1 ($out)"
[[ $out == "groundview: cannot start Allegro: "*"DISPLAY is not set"* ]] || fail "without DISPLAY: said '$out'"

# A display named where no server answers.
set +e
out=$(DISPLAY=:97 "$BIN/groundview" 2>&1); status=$?
set -e
[ $status -eq 1 ] || fail "unreachable DISPLAY: status $status, expected 1 ($out)"
[[ $out == "groundview: cannot start Allegro: "*"no display answers at DISPLAY=:97"* ]] ||
  fail "unreachable DISPLAY: said '$out'"

start_xvfb

# A real window: the viewer runs until Esc and ends with status 0.
"$BIN/groundview" --windowed >"$SCRATCH/out" 2>"$SCRATCH/err" &
pid=$!
if window=$(wait_for_window $pid 20); then
  sleep 1
  focus_window "$window"
  quit_viewer $pid
else
  wait_for_exit $pid 20
fi
[ $STATUS -eq 0 ] || fail "viewer ended with status $STATUS: $(cat "$SCRATCH/err")"
[ ! -s "$SCRATCH/out" ] || fail "without --stats the viewer printed '$(cat "$SCRATCH/out")'"

# No frame picture.
rm data/board.bmp
set +e
out=$("$BIN/groundview" --windowed 2>&1); status=$?
set -e
[ $status -eq 1 ] || fail "without board.bmp: status $status, expected 1"
[ "$out" = "groundview: cannot load the frame picture: data/board.bmp: cannot open: No such file or directory" ] ||
  fail "without board.bmp: said '$out'"

# A frame picture that is a FIFO is refused at once, not waited on.
mkfifo data/board.bmp
set +e
out=$(timeout 20 "$BIN/groundview" --windowed 2>&1); status=$?
set -e
[ $status -eq 1 ] || fail "board.bmp a FIFO: status $status, expected 1"
[ "$out" = "groundview: cannot load the frame picture: data/board.bmp: is a FIFO, not a regular file" ] ||
  fail "board.bmp a FIFO: said '$out'"

# Usage errors.
set +e
"$BIN/groundview" --no-such-option >/dev/null 2>&1; status=$?
set -e
[ $status -eq 2 ] || fail "unknown option: status $status, expected 2"
"$BIN/groundview" --help | grep -q "F12" || fail "--help does not list the keys"
echo ok
