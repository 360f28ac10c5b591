# cmake --install puts the three programs into DIR/bin and the default world
# into DIR/share/groundview; the installed viewer, started in a directory
# without data/, shows that installed world and writes Screen.bmp where it
# was started.
source "$(dirname "$0")/common.bash"

prefix="$SCRATCH/prefix"
cmake --install "$BIN/.." --prefix "$prefix" >/dev/null || fail "cmake --install failed"
for program in groundview boardtool makeworld; do
  [ -x "$prefix/bin/$program" ] || fail "no $program in $prefix/bin"
done
world="$prefix/share/groundview"
for file in test.brd board.bmp frame.bmp sky.bmp grass.bmp; do
  [ -f "$world/data/$file" ] || fail "no $file in $world/data"
done
"$prefix/bin/groundview" --help | grep -qF "$world/data" || fail "groundview --help does not say it looks in $world/data"

# The installed frame picture is swapped for the general one, so that the
# screenshot tells which frame picture was read.
cp "$world/data/frame.bmp" "$world/data/board.bmp"

mkdir "$SCRATCH/empty"
cd "$SCRATCH/empty"
start_xvfb
open_viewer "$prefix/bin/groundview"
sleep 1
focus_window "$window"
screenshot "$SCRATCH/empty/Screen.bmp" "in the installed viewer"
quit_viewer $pid
[ $STATUS -eq 0 ] || fail "viewer ended with status $STATUS: $(cat "$SCRATCH/err")"
[ -f "$SCRATCH/empty/Screen.bmp" ] || fail "no Screen.bmp where the viewer was started"
[ ! -e "$world/Screen.bmp" ] || fail "Screen.bmp went into the installed world"
cd "$world"
"$BIN/viewcheck" pose "$SCRATCH/empty/Screen.bmp" data/board.bmp 'data\test.brd' 0 >/dev/null ||
  fail "the installed viewer did not show the installed default world at the start"
echo ok
