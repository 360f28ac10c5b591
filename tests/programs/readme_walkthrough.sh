# The README's walk-through ("Make a map"), its shell blocks run as they
# stand in a fresh folder with an unusual name, laid out as a clone after
# ./run.sh (the default world in data/, the programs in build/bin/): every
# command succeeds, the viewer it leaves open shows the map, and the sea
# beyond the map moves.
source "$(dirname "$0")/common.bash"

clone="$SCRATCH/not groundview"
mkdir -p "$clone/build"
cp -r "$SRC/data" "$clone/data"
ln -s "$BIN" "$clone/build/bin"
export XDG_CONFIG_HOME=$SCRATCH/config

# The section's code blocks: lines indented 4 spaces or more (a list item's
# own text is indented 3), in order.
awk '/^## Make a map/ { on = 1; next } /^## / { on = 0 } on && /^    / { sub(/^ +/, ""); print }' \
  "$SRC/README.md" >"$SCRATCH/walkthrough.sh"
for step in "boardtool new " "boardtool check " "groundview " "boardtool set "; do
  grep -q "^build/bin/$step" "$SCRATCH/walkthrough.sh" || fail "the walk-through has no '$step' any more"
done
# Whatever it leaves running is ours to end.
echo 'jobs -p >"$JOBS"' >>"$SCRATCH/walkthrough.sh"

start_xvfb
cd "$clone"
set +e
JOBS=$SCRATCH/jobs bash -e "$SCRATCH/walkthrough.sh" >"$SCRATCH/out" 2>"$SCRATCH/err"
status=$?
set -e
pid=$(cat "$SCRATCH/jobs" 2>/dev/null || true)
[ $status -eq 0 ] || fail "the walk-through failed (status $status): $(cat "$SCRATCH/out" "$SCRATCH/err")"
[ -n "$pid" ] || fail "the walk-through left no viewer running"
trap 'kill $pid 2>/dev/null || true; cleanup' EXIT
window=$(wait_for_window "$pid" 60) || fail "the walk-through's viewer showed no window: $(cat "$SCRATCH/err")"
grep -q "island.brd: saved" "$SCRATCH/out" || fail "set did not save: $(cat "$SCRATCH/out")"

# Turned round towards the map's edge, five screenshots about a quarter of
# a second apart (the sea steps every 6 ticks, 0.18 s, through 4 frames):
# every cell is still grass and the sky stands still, so only the sea
# beyond the edge can tell them apart, and it must.
sleep 1
focus_window "$window"
hold_key Left 2.2; sleep 0.5
for i in 1 2 3 4 5; do
  hold_key F12 0.05; sleep 0.2
  [ -f Screen.bmp ] || fail "F12 wrote no screenshot"
  mv Screen.bmp "shot$i.bmp"
done
[ "$(md5sum shot?.bmp | cut -d' ' -f1 | sort -u | wc -l)" -gt 1 ] || fail "the sea beyond the map does not move"
# Esc ends it (it is the walk-through's child, so its status is not ours to see).
for _ in $(seq 6); do
  hold_key Escape 0.5
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$pid" 2>/dev/null || break
done
kill -0 "$pid" 2>/dev/null && fail "Esc did not end the walk-through's viewer"
echo ok
