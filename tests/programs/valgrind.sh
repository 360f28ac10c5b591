# The viewer under valgrind's memcheck for a few seconds, turning and moving,
# then Esc: no invalid read or write, no use of uninitialised memory, and no
# block definitely lost. Allegro and the X library need no suppressions:
# what they keep until exit is still reachable, which is not an error.
source "$(dirname "$0")/common.bash"

if [[ $(ldd "$BIN/groundview") == *libasan* ]]; then
  echo "skipped: valgrind cannot run a viewer built with AddressSanitizer"
  exit 77
fi
command -v valgrind >/dev/null || fail "valgrind is not installed"

RUN_SECONDS=10

enter_world_copy
start_xvfb

# Fair scheduling: memcheck runs one thread at a time, and without it the
# drawing loop can keep Allegro's keyboard thread waiting for a minute.
valgrind --tool=memcheck --fair-sched=yes --leak-check=full --errors-for-leak-kinds=definite --error-exitcode=99 \
  --log-file="$SCRATCH/memcheck.log" \
  "$BIN/groundview" --windowed --stats >"$SCRATCH/out" 2>"$SCRATCH/err" &
pid=$!
# Under memcheck start-up takes many times longer.
window=$(wait_for_window $pid 120) ||
  fail "the viewer opened no window under valgrind on $DISPLAY (Xvfb $(kill -0 $XVFB_PID 2>/dev/null &&
    echo running || echo gone)): $(cat "$SCRATCH/err"; tail -5 "$SCRATCH/memcheck.log")"
focus_window "$window"

xdotool keydown Left keydown Up
sleep $RUN_SECONDS
xdotool keyup Up keyup Left
# Under memcheck one thread runs at a time, and Allegro's event thread may
# see a short press and its release together, after the loop has looked;
# so Esc stays down until the viewer has ended.
xdotool keydown Escape
wait_for_exit $pid 120
xdotool keyup Escape

summary=$(grep -E "ERROR SUMMARY|definitely lost|indirectly lost|possibly lost|still reachable|suppressed:" \
  "$SCRATCH/memcheck.log" || true)
echo "$summary"
echo "stats: $(cat "$SCRATCH/out")"
if [ $STATUS -ne 0 ]; then
  sed -n '/^==[0-9]*== [A-Z]/,$p' "$SCRATCH/memcheck.log" | head -150 >&2
  fail "the viewer under memcheck ended with status $STATUS (99: memcheck found errors)"
fi
grep -q "ERROR SUMMARY: 0 errors" "$SCRATCH/memcheck.log" || fail "memcheck reports errors"
echo ok
