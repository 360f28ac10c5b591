# A map of one's own in a directory without data/, opened with -C and MAP
# (a board file, then a Tiled map) and followed with --watch in a real window: each save, in place or by rename,
# is on screen (checked through F12 against boardtool render) within 100 ms,
# measured from just before the save to the viewer's own line saying when it
# first showed the new map; a save that cannot be loaded keeps the last good
# map and says why once.
source "$(dirname "$0")/common.bash"
source "$(dirname "$0")/ground_map.bash"

mkdir "$SCRATCH/maps"
cd "$SCRATCH/maps"
cp "$SRC/data/water.bmp" "$SRC/data/grass.bmp" "$SRC/data/lava.bmp" "$SRC/data/sky.bmp" .
echo "3 water.bmp grass.bmp lava.bmp" >tiles.txt
"$BIN/boardtool" new tiles.txt my.brd --sky sky.bmp >/dev/null
cp my.brd grass.brd
cp my.brd lava.brd
"$BIN/boardtool" set lava.brd --tile 1=lava.bmp >/dev/null
cd "$SCRATCH"
start_xvfb

open_viewer "$BIN/groundview" --watch -C maps my.brd
sleep 1
focus_window "$window"

expect_view grass.brd "at start"

reloads() { grep -c '^reloaded ' "$SCRATCH/out" || true; }
# Waits for more than $1 reload lines and prints the milliseconds from $2
# (the wall clock just before the save) to the moment the viewer first
# showed the map the next reload line reports.
latency() {
  for _ in $(seq 300); do
    [ "$(reloads)" -gt "$1" ] && break
    sleep 0.01
  done
  line=$(grep '^reloaded ' "$SCRATCH/out" | sed -n "$(($1 + 1))p")
  [[ $line =~ ^reloaded\ my\.brd,\ shown\ at\ ([0-9.]+)$ ]] || fail "reload $1 not reported: '$line'"
  awk -v a="$2" -v b="${BASH_REMATCH[1]}" 'BEGIN { printf "%.1f\n", (b - a) * 1000 }'
}

# Saves alternate between a rename over the map, as editors save, and a
# write in place.
times=()
for i in $(seq 10); do
  if [ $((i % 2)) = 1 ]; then source=lava.brd; else source=grass.brd; fi
  cp "maps/$source" maps/next.brd
  n=$(reloads)
  t0=$(date +%s.%N)
  if [ $((i % 4)) -lt 2 ]; then mv maps/next.brd maps/my.brd; else cat maps/next.brd >maps/my.brd; fi
  times+=("$(latency "$n" "$t0")")
  sleep 0.2
done
expect_view grass.brd "after the last save"
sorted=$(printf '%s\n' "${times[@]}" | sort -n)
worst=$(echo "$sorted" | tail -1)
median=$(echo "$sorted" | sed -n 5p)
echo "save to screen, 10 saves: median $median ms, worst $worst ms (${times[*]})"
# The aim is 100 ms, and on an idle machine the middle of ten is well under
# it; a machine busy with other work (tests run side by side) stretches it,
# as reading the map then waits for the processor. A watch that looked
# only every half second or so would still fail here.
awk -v m="$median" 'BEGIN { exit !(m <= 250) }' || fail "half the saves took $median ms or more to show"
awk -v w="$worst" 'BEGIN { exit !(w <= 1000) }' || fail "a save took $worst ms to show"

# A tile image saved anew is shown too.
n=$(reloads)
cp maps/lava.bmp maps/grass.bmp
latency "$n" 0 >/dev/null
sleep 0.3
expect_view lava.brd "after grass.bmp was overwritten with lava"

# A broken save: the last good map stays, the reason is printed once.
head -c 1000 maps/my.brd >maps/broken.brd
mv maps/broken.brd maps/my.brd
sleep 1
expect_view lava.brd "after a broken save"
[ "$(grep -c 'my\.brd' "$SCRATCH/err")" = 1 ] || fail "the broken save was reported as '$(cat "$SCRATCH/err")'"
# The next good save shows again.
cp maps/lava.brd maps/next.brd
n=$(reloads)
mv maps/next.brd maps/my.brd
latency "$n" 0 >/dev/null
sleep 0.3
expect_view lava.brd "after the good save that followed"

quit_viewer $pid
[ $STATUS -eq 0 ] || fail "viewer ended with status $STATUS: $(cat "$SCRATCH/err")"

# A Tiled map opens the same way, read in memory: the view is the board's
# that it was exported from, and nothing is written beside it.
(cd maps && "$BIN/boardtool" export lava.brd lava.tmx >/dev/null) || fail "boardtool export failed"
before=$(ls maps | sort)
"$BIN/groundview" --windowed -C maps lava.tmx >"$SCRATCH/out" 2>"$SCRATCH/err" &
pid=$!
window=$(wait_for_window $pid 60) || fail "no viewer window for lava.tmx: $(cat "$SCRATCH/err")"
sleep 1
focus_window "$window"
expect_view lava.brd "the Tiled map exported from it"
quit_viewer $pid
[ $STATUS -eq 0 ] || fail "viewer of lava.tmx ended with status $STATUS: $(cat "$SCRATCH/err")"
[ "$(ls maps | grep -v '^Screen.bmp$' | sort)" = "$(echo "$before" | grep -v '^Screen.bmp$')" ] ||
  fail "opening lava.tmx wrote files: $(ls maps)"

# A Tiled map is followed in every file it is made of: a tileset image saved
# anew shows without the map being touched. A tileset saved broken keeps
# the last good map on screen and says why in the frame, in red, until a
# good save; the reason is printed once.
make_ground_map "$SCRATCH/tiled"
open_viewer "$BIN/groundview" --watch -C tiled my.tmx
sleep 1
focus_window "$window"
shot() {
  screenshot tiled/Screen.bmp "$1"
}
(cd tiled && "$BIN/boardtool" render my.tmx "$SCRATCH/grass.bmp") || fail "boardtool render my.tmx failed"
shot "at start"
"$BIN/viewcheck" view tiled/Screen.bmp grass.bmp || fail "the Tiled map is not shown as boardtool renders it"
n=$(grep -c '^reloaded ' "$SCRATCH/out" || true)
cp tiled/brick.bmp tiled/next.bmp
mv tiled/next.bmp tiled/grass.bmp
for _ in $(seq 100); do [ "$(grep -c '^reloaded ' "$SCRATCH/out" || true)" -gt "$n" ] && break; sleep 0.02; done
[ "$(grep -c '^reloaded ' "$SCRATCH/out" || true)" -gt "$n" ] || fail "a tileset image saved anew was not reloaded"
(cd tiled && "$BIN/boardtool" render my.tmx "$SCRATCH/brick.bmp") || fail "boardtool render my.tmx failed"
! cmp -s grass.bmp brick.bmp || fail "the new tile image changes nothing in the render"
shot "after grass.bmp was saved as brick"
"$BIN/viewcheck" view tiled/Screen.bmp brick.bmp || fail "the tileset image saved anew is not on screen"
! "$BIN/viewcheck" alarm tiled/Screen.bmp >/dev/null || fail "a good map shows an alarm line"

cp tiled/ground.tsx good.tsx
echo '<tileset name="ground" tilewidth="32"' >tiled/next.tsx
mv tiled/next.tsx tiled/ground.tsx
sleep 1
shot "after a broken tileset"
"$BIN/viewcheck" view tiled/Screen.bmp brick.bmp || fail "a broken tileset did not keep the last good map"
"$BIN/viewcheck" alarm tiled/Screen.bmp >/dev/null || fail "a broken tileset is not said in the frame"
[ "$(grep -c 'ground\.tsx' "$SCRATCH/err")" = 1 ] || fail "the broken tileset was reported as '$(cat "$SCRATCH/err")'"
n=$(grep -c '^reloaded ' "$SCRATCH/out" || true)
cp good.tsx tiled/ground.tsx
for _ in $(seq 100); do [ "$(grep -c '^reloaded ' "$SCRATCH/out" || true)" -gt "$n" ] && break; sleep 0.02; done
sleep 0.2
shot "after the tileset was mended"
"$BIN/viewcheck" view tiled/Screen.bmp brick.bmp || fail "the mended tileset is not shown"
! "$BIN/viewcheck" alarm tiled/Screen.bmp >/dev/null || fail "the alarm line stayed after a good save"
quit_viewer $pid
[ $STATUS -eq 0 ] || fail "viewer of my.tmx ended with status $STATUS: $(cat "$SCRATCH/err")"
echo ok
