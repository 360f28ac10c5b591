# The Tiled extension against the real Tiled, mostly run without a window and
# once in a window on a private Xvfb: installed by boardtool into a private
# settings folder, it lets Tiled open board files and save them, and a board
# opened and saved by Tiled comes back with the same body, byte for byte.
source "$(dirname "$0")/common.bash"

command -v tiled >/dev/null || { echo "skipped: tiled is not installed (tools/install-deps.sh test installs it)"; exit 77; }

export QT_QPA_PLATFORM=offscreen
# Tiled keeps its session (the files it reopens) in XDG_DATA_HOME: private too.
export XDG_CONFIG_HOME=$SCRATCH/config XDG_DATA_HOME=$SCRATCH/share XDG_RUNTIME_DIR=$SCRATCH/runtime TMPDIR=$SCRATCH/tmp
mkdir -m 700 "$SCRATCH/runtime"
mkdir "$SCRATCH/tmp"
EXTENSION=$XDG_CONFIG_HOME/tiled/extensions/groundview.js

# Runs Tiled with the given arguments; its output lands in $SCRATCH/out and
# $SCRATCH/err, its exit status in $STATUS.
run_tiled() {
  set +e
  tiled "$@" >"$SCRATCH/out" 2>"$SCRATCH/err"
  STATUS=$?
  set -e
}

# $3 bytes of file $1 from offset $2.
bytes() {
  dd if="$1" iflag=skip_bytes,count_bytes skip="$2" count="$3" bs=65536 status=none
}

# The body of board file $1: from the offset in bytes 1..4, 61584 bytes and
# 128 for each tile name.
body() {
  local offset count
  offset=$(od -An -tu4 -j1 -N4 "$1" | tr -d ' ')
  count=$(od -An -tu4 -j$((offset + 61440)) -N4 "$1" | tr -d ' ')
  bytes "$1" "$offset" $((61584 + 128 * count))
}

same_body() {
  cmp -s <(body "$1") <(body "$2") || fail "$3: the body of $2 differs from that of $1"
}

# Installing: into the folder Tiled reads, once; a different file there stays.
"$BIN/boardtool" tiled-extension --install >/dev/null || fail "tiled-extension --install failed"
grep -qF "const installedBoardtool = \"$(readlink -f "$BIN/boardtool")\";" "$EXTENSION" ||
  fail "the installed extension does not name $BIN/boardtool"
"$BIN/boardtool" tiled-extension --install >/dev/null || fail "installing it again failed"
cp "$EXTENSION" "$SCRATCH/installed.js"
echo "// changed by hand" >>"$EXTENSION"
set +e
"$BIN/boardtool" tiled-extension --install 2>"$SCRATCH/err"; status=$?
set -e
[ $status -eq 1 ] || fail "a different extension was replaced without --force (status $status)"
grep -q "exists and differs" "$SCRATCH/err" || fail "refusing to replace said: $(cat "$SCRATCH/err")"
"$BIN/boardtool" tiled-extension --install --force >/dev/null || fail "--install --force failed"
cmp -s "$EXTENSION" "$SCRATCH/installed.js" || fail "--force did not put the extension back"

# cmake --install puts a copy under the prefix naming the boardtool there.
cmake --install "$BIN/.." --prefix "$SCRATCH/prefix" >/dev/null || fail "cmake --install failed"
shared=$SCRATCH/prefix/share/groundview/tiled/groundview.js
grep -qxF "const installedBoardtool = \"$SCRATCH/prefix/bin/boardtool\";" "$shared" ||
  fail "the installed copy does not name $SCRATCH/prefix/bin/boardtool"
diff <(grep -v '^const installedBoardtool = ' "$shared") <(grep -v '^const installedBoardtool = ' "$EXTENSION") >/dev/null ||
  fail "the installed copy differs from the extension in more than the boardtool it names"

# Tiled loads it (a script that does not load leaves Tiled silent).
run_tiled --export-formats
grep -qx " groundview" "$SCRATCH/out" || fail "Tiled lists no groundview format: $(cat "$SCRATCH/out" "$SCRATCH/err")"

# The boards: the default world; one with every field odd: a header byte, a
# gap before the body and bytes after it, every cell's bytes from noise (tiles
# beyond the tile count included), names with backslashes.
mkdir "$SCRATCH/world"
cp -r "$SRC/data" "$SCRATCH/world/data"
mkdir "$SCRATCH/world/maps"
boards=("$SCRATCH/world/data/test.brd")
odd=$SCRATCH/world/maps/odd.brd
{
  printf '\xab\x09\x00\x00\x00GAP!'
  bytes "$SRC/data/sky.bmp" 20000 61440
  tail -c +61446 "$SRC/data/test.brd"
  printf 'after the body'
} >"$odd"
boards+=("$odd")
# The default world's board where none of its images are: boardtool shows
# placeholders, in PNG files beside the temporary map that are gone before
# Tiled saves.
mkdir "$SCRATCH/elsewhere"
cp "$SRC/data/test.brd" "$SCRATCH/elsewhere/lone.brd"
boards+=("$SCRATCH/elsewhere/lone.brd")
"$BIN/boardtool" -C "$SCRATCH/world" check 'maps\odd.brd' >/dev/null 2>&1 && fail "the odd board has no odd cells"

for board in "${boards[@]}"; do
  name=$(basename "$board" .brd)
  cp "$board" "$SCRATCH/$name.original"

  # Opening: Tiled reads the board through the extension.
  run_tiled --export-map tmx "$board" "$SCRATCH/$name.tmx"
  [ $STATUS -eq 0 ] || fail "Tiled cannot open $board: $(cat "$SCRATCH/err")"
  grep -q "<tileset" "$SCRATCH/$name.tmx" || fail "Tiled's map of $board has no tileset"

  # Saving Tiled's map over a copy of the board, the format chosen by the
  # extension .brd, and by its name.
  copy=$(dirname "$board")/$name-copy.brd
  cp "$board" "$copy"
  run_tiled --export-map "$SCRATCH/$name.tmx" "$copy"
  [ $STATUS -eq 0 ] || fail "Tiled cannot save $name.tmx as a board: $(cat "$SCRATCH/err")"
  same_body "$board" "$copy" "saved from Tiled's map"
  cp "$board" "$copy"
  run_tiled --export-map groundview "$SCRATCH/$name.tmx" "$copy"
  [ $STATUS -eq 0 ] || fail "Tiled cannot save $name.tmx in the groundview format: $(cat "$SCRATCH/err")"
  same_body "$board" "$copy" "saved in the groundview format"
  rm "$copy"

  # Opened and saved over itself, as Tiled's File > Save does.
  run_tiled --export-map "$board" "$board"
  [ $STATUS -eq 0 ] || fail "Tiled cannot save $board over itself: $(cat "$SCRATCH/err")"
  same_body "$SCRATCH/$name.original" "$board" "opened and saved by Tiled"
done

# A new board from Tiled's map: run in the folder that boardtool finds for
# it, the viewer finds everything it names.
new=$SCRATCH/world/maps/new.brd
run_tiled --export-map groundview "$SCRATCH/test.tmx" "$new"
[ $STATUS -eq 0 ] || fail "Tiled cannot save a new board: $(cat "$SCRATCH/err")"
"$BIN/boardtool" -C "$("$BIN/boardtool" image-folder "$new")" check "$new" >"$SCRATCH/check" 2>&1 ||
  fail "the new board saved by Tiled has problems: $(cat "$SCRATCH/check")"

# In Tiled's window: File > Open the board given on the command line, Ctrl+S
# saves it through the extension, which replaces the file.
start_xvfb
board=$SCRATCH/world/data/test.brd
inode=$(stat -c %i "$board")
env -u QT_QPA_PLATFORM tiled --new-instance "$board" >"$SCRATCH/gui.log" 2>&1 &
TILED_PID=$!
window=$(wait_for_tiled_window "^test.brd" $TILED_PID "$SCRATCH/gui.log")
focus_window "$window"
xdotool key ctrl+s
# The board is replaced before the extension removes its temporary map.
for _ in $(seq 300); do
  [ "$(stat -c %i "$board")" != "$inode" ] && ! ls "$SCRATCH/tmp" | grep -q '^groundview-tiled-' && break
  sleep 0.1
done
kill $TILED_PID
wait $TILED_PID 2>/dev/null || true
[ "$(stat -c %i "$board")" != "$inode" ] || fail "Ctrl+S in Tiled did not save test.brd: $(cat "$SCRATCH/gui.log")"
same_body "$SCRATCH/test.original" "$board" "opened and saved in Tiled's window"

# Painting: a script opens the default world's board in Tiled, paints cell
# (0, 0) with the tile of cell (9, 9) flipped, a look that needs a new tile
# image, and saves it, all through Tiled's own scripting, as the editor does.
mkdir -p "$SCRATCH/paint/tiled/extensions"
cp "$EXTENSION" "$SCRATCH/paint/tiled/extensions/"
cat >"$SCRATCH/paint/tiled/extensions/paint.js" <<'EOF'
const board = new Process().getEnv("PAINT_BOARD");
if (board !== "") {
    const format = tiled.mapFormat("groundview");
    const map = format.read(board);
    const layer = map.layers[0];
    const edit = layer.edit();
    edit.setTile(0, 0, layer.tileAt(9, 9), Tile.FlippedHorizontally);
    edit.apply();
    format.write(map, board);
    print("painted " + board);
}
EOF
painted=$SCRATCH/world/maps/painted.brd
cp "$SRC/data/test.brd" "$painted"
set +e
XDG_CONFIG_HOME=$SCRATCH/paint PAINT_BOARD=$painted tiled --export-formats >/dev/null 2>"$SCRATCH/err"
set -e
grep -q "painted $painted" "$SCRATCH/err" || fail "the painting script did not finish: $(cat "$SCRATCH/err")"
"$BIN/boardtool" -C "$SCRATCH/world" info maps/painted.brd >"$SCRATCH/info"
grep -q '^tile 10: maps[/\\]painted[/\\][^:]*\.png: 32x32 pixels' "$SCRATCH/info" ||
  fail "the painted look has no new tile image named from the board's folder: $(cat "$SCRATCH/info")"
grep -qx 'tile 10: 1 cells, 0 animated' "$SCRATCH/info" || fail "the painted cell is not on the new tile: $(cat "$SCRATCH/info")"
"$BIN/boardtool" -C "$SCRATCH/world" check maps/painted.brd >"$SCRATCH/check" 2>&1 ||
  fail "the painted board has problems: $(cat "$SCRATCH/check")"
rm -r "$SCRATCH/world/maps/painted"

# A broken board: Tiled refuses it with boardtool's own message.
printf '\x00\x03\x00\x00\x00' >"$SCRATCH/world/maps/broken.brd"
run_tiled --export-map tmx "$SCRATCH/world/maps/broken.brd" "$SCRATCH/broken.tmx"
[ $STATUS -eq 1 ] || fail "a broken board: Tiled's status $STATUS, expected 1"
grep -q "^Error: boardtool: $SCRATCH/world/maps/broken.brd: " "$SCRATCH/err" ||
  fail "a broken board: Tiled said '$(cat "$SCRATCH/err")'"
[ -e "$SCRATCH/broken.tmx" ] && fail "a broken board left a map behind"

# A map that cannot become a board: saving it over a board leaves the board
# as it was, and Tiled says why, naming the board.
sed 's/orientation="orthogonal"/orientation="isometric"/' "$SCRATCH/test.tmx" >"$SCRATCH/isometric.tmx"
kept=$SCRATCH/world/maps/kept.brd
cp "$SRC/data/test.brd" "$kept"
run_tiled --export-map "$SCRATCH/isometric.tmx" "$kept"
[ $STATUS -eq 1 ] || fail "an isometric map: Tiled's status $STATUS, expected 1"
grep -q "^qml: boardtool: maps/kept.brd: " "$SCRATCH/err" || fail "an isometric map: Tiled said '$(cat "$SCRATCH/err")'"
cmp -s "$SRC/data/test.brd" "$kept" || fail "a refused save changed the board"

# A board whose name reads as an option, in the folder boardtool runs in:
# saved, not taken for -h (help, status 0, nothing written).
dashed=$SCRATCH/world/-h.brd
cp "$SRC/data/test.brd" "$dashed"
inode=$(stat -c %i "$dashed")
run_tiled --export-map "$SCRATCH/test.tmx" "$dashed"
[ $STATUS -eq 0 ] || fail "saving -h.brd: Tiled's status $STATUS: $(cat "$SCRATCH/err")"
[ "$(stat -c %i "$dashed")" != "$inode" ] || fail "saving -h.brd wrote nothing: $(cat "$SCRATCH/err")"
same_body "$SRC/data/test.brd" "$dashed" "saved as -h.brd"
rm "$dashed"

# What import warns about reaches Tiled, naming the board, not the
# temporary map: an object layer is left out.
sed 's|</map>| <objectgroup id="9" name="notes"><object id="1" x="1" y="1"/></objectgroup>\n</map>|' \
  "$SCRATCH/test.tmx" >"$SCRATCH/objects.tmx"
run_tiled --export-map groundview "$SCRATCH/objects.tmx" "$SCRATCH/world/maps/objects.brd"
[ $STATUS -eq 0 ] || fail "a map with an object layer: Tiled's status $STATUS: $(cat "$SCRATCH/err")"
grep -q "^qml: boardtool: warning: .*notes" "$SCRATCH/err" ||
  fail "the left-out object layer was not reported: '$(cat "$SCRATCH/err")'"
grep -q "groundview-tiled-" "$SCRATCH/err" && fail "a warning names the temporary map: $(cat "$SCRATCH/err")"
rm "$SCRATCH/world/maps/objects.brd"

# A boardtool whose import fails without a word, or ends with 0 having
# written nothing: neither is a save, and the board stays as it was.
mkdir "$SCRATCH/fake"
cp "$BIN/boardtool" "$SCRATCH/fake/boardtool.real"
cp "$BIN/boardtool" "$SCRATCH/fake/boardtool"
XDG_CONFIG_HOME=$SCRATCH/fakeconfig "$SCRATCH/fake/boardtool" tiled-extension --install >/dev/null
for import in 'exit 0' 'exit 3'; do
  cat >"$SCRATCH/fake/boardtool" <<EOF
#!/bin/sh
for a in "\$@"; do [ "\$a" = import ] && { $import; }; done
exec "$SCRATCH/fake/boardtool.real" "\$@"
EOF
  chmod +x "$SCRATCH/fake/boardtool"
  XDG_CONFIG_HOME=$SCRATCH/fakeconfig run_tiled --export-map "$SCRATCH/test.tmx" "$kept"
  [ $STATUS -eq 1 ] || fail "a boardtool import that does '$import': Tiled's status $STATUS, expected 1"
  grep -q "^qml: groundview: .*boardtool" "$SCRATCH/err" ||
    fail "a boardtool import that does '$import': Tiled said '$(cat "$SCRATCH/err")'"
  cmp -s "$SRC/data/test.brd" "$kept" || fail "a boardtool import that does '$import' changed the board"
done

# Without boardtool: Tiled names what the extension looked for.
mkdir "$SCRATCH/gone"
cp "$BIN/boardtool" "$SCRATCH/gone/boardtool"
"$SCRATCH/gone/boardtool" tiled-extension --install --force >/dev/null
rm "$SCRATCH/gone/boardtool"
PATH=/usr/bin:/bin run_tiled --export-map tmx "$SCRATCH/world/data/test.brd" "$SCRATCH/gone.tmx"
[ $STATUS -eq 1 ] || fail "without boardtool: Tiled's status $STATUS, expected 1"
grep -qF "boardtool not found: looked for $SCRATCH/gone/boardtool and boardtool on PATH (/usr/bin:/bin)" \
  "$SCRATCH/err" || fail "without boardtool: Tiled said '$(cat "$SCRATCH/err")'"

# Every temporary map is gone (Tiled's window keeps its own lock files
# there), and nothing was left beside the boards.
temporaries=$(ls -A "$SCRATCH/tmp" | grep -v '^qtsingleapp-tiled-' || true)
[ -z "$temporaries" ] || fail "temporary files left behind: $temporaries"
leftovers=$(ls -A "$SCRATCH/world/maps" | grep -v '\.brd$' || true)
[ -z "$leftovers" ] || fail "files left beside the boards: $leftovers"
echo ok
