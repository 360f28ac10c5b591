# "Preview in groundview" in the real Tiled, in a window on a private Xvfb:
# the shortcut starts one viewer on a private copy of the map; strokes
# painted with the mouse reach it without a save (one stroke, one version),
# and so does an undo, which Tiled does not signal; the screen then shows
# what boardtool renders of the map as saved afterwards; the board itself
# is untouched until Ctrl+S; closing the document, quitting Tiled or
# killing it ends the viewer and removes the copy. Prints the time from a click to the frame that shows
# it, over ten clicks.
source "$(dirname "$0")/common.bash"

command -v tiled >/dev/null || { echo "skipped: tiled is not installed (tools/install-deps.sh test installs it)"; exit 77; }

# Tiled's settings and its session (the files it reopens) are private too.
export XDG_CONFIG_HOME=$SCRATCH/config XDG_DATA_HOME=$SCRATCH/share XDG_RUNTIME_DIR=$SCRATCH/runtime TMPDIR=$SCRATCH/tmp
mkdir -m 700 "$SCRATCH/runtime"
mkdir "$SCRATCH/tmp"

# The programs the extension runs: a copy of boardtool, and beside it the
# viewer. A viewer without --at gets it taken off by a stand-in, which
# notes the arguments either way; its output is kept.
mkdir "$SCRATCH/bin"
cp "$BIN/boardtool" "$SCRATCH/bin/boardtool"
if "$BIN/groundview" --help 2>&1 | grep -q -- '--at'; then AT_TAKEN=1; else AT_TAKEN=0; fi
cat >"$SCRATCH/bin/groundview" <<EOF
#!/bin/bash
echo "\$*" >>"$SCRATCH/viewer.args"
args=()
while [ \$# -gt 0 ]; do
  if [ "\$1" = --at ] && [ $AT_TAKEN = 0 ]; then shift 2; continue; fi
  args+=("\$1"); shift
done
exec "$BIN/groundview" "\${args[@]}" >>"$SCRATCH/viewer.out" 2>>"$SCRATCH/viewer.err"
EOF
chmod +x "$SCRATCH/bin/groundview"
"$SCRATCH/bin/boardtool" tiled-extension --install >/dev/null

# Test helpers inside Tiled: the brush is one cell of the tileset named in
# BRUSH, the view shows the map at twice its size centred on cell
# (VIEW_X, VIEW_Y), and each painted region is said on stderr with the
# time Tiled signalled it, in milliseconds since the epoch.
cat >"$XDG_CONFIG_HOME/tiled/extensions/preview_test.js" <<'EOF'
tiled.assetOpened.connect(function(map) {
    if (!map.isTileMap)
        return;
    const env = new Process();
    for (const tileset of map.tilesets) {
        if (tileset.name.indexOf(env.getEnv("BRUSH")) !== 0)
            continue;
        const brush = new TileMap();
        brush.setSize(1, 1);
        brush.setTileSize(map.tileWidth, map.tileHeight);
        const layer = new TileLayer("brush");
        brush.addLayer(layer);
        const edit = layer.edit();
        edit.setTile(0, 0, tileset.tile(0));
        edit.apply();
        tiled.mapEditor.currentBrush = brush;
        break;
    }
    map.regionEdited.connect(function(region) {
        const r = region.boundingRect;
        print("edited " + r.x + " " + r.y + " " + r.width + " " + r.height + " at " + Date.now());
    });
    const timer = Qt.createQmlObject("import QtQml 2.0; Timer { interval: 300 }", tiled, "test-timer");
    timer.triggered.connect(function() {
        const view = tiled.mapEditor.currentMapView;
        view.scale = 2;
        view.centerOn((Number(env.getEnv("VIEW_X")) + 0.5) * map.tileWidth,
                      (Number(env.getEnv("VIEW_Y")) + 0.5) * map.tileHeight);
        print("view ready");
    });
    timer.start();
});
// Ctrl+Alt+O opens the map OPEN_NEXT.
const open = tiled.registerAction("PreviewTestOpen", function() { tiled.open(new Process().getEnv("OPEN_NEXT")); });
open.shortcut = "Ctrl+Alt+O";
tiled.extendMenu("File", [{action: "PreviewTestOpen"}]);
EOF

# A board of still tiles (so that a screenshot is one exact picture): every
# cell road, grass beyond the map.
mkdir -p "$SCRATCH/world/maps"
cp -r "$SRC/data" "$SCRATCH/world/data"
cd "$SCRATCH/world"
echo "3 data/grass.bmp data/road.bmp data/sand.bmp" >maps/tiles.txt
"$BIN/boardtool" new maps/tiles.txt maps/road.brd >/dev/null
board=$SCRATCH/world/maps/road.brd
cp "$board" "$SCRATCH/road.original"
before=$(ls -R "$SCRATCH/world")

# A screen large enough for Tiled's window above the viewer's.
start_xvfb 1280x1280x24

BRUSH="tile 2:" VIEW_X=16 VIEW_Y=15 OPEN_NEXT=$SCRATCH/world/maps/road.tmj tiled --new-instance "$board" >"$SCRATCH/tiled.out" 2>"$SCRATCH/tiled.err" &
TILED_PID=$!
trap 'kill $TILED_PID 2>/dev/null || true; cleanup' EXIT
edits() { grep -c '^qml: edited ' "$SCRATCH/tiled.err" || true; }
reloads() { grep -c '^reloaded ' "$SCRATCH/viewer.out" 2>/dev/null || true; }
# (The test's script says when Tiled's view is placed.)
view_ready() {
  for _ in $(seq 300); do grep -q '^qml: view ready' "$SCRATCH/tiled.err" 2>/dev/null && return 0; sleep 0.1; done
  fail "Tiled's view never got ready: $(cat "$SCRATCH/tiled.err")"
}
view_ready
tiled_window=$(wait_for_tiled_window "^road.brd" $TILED_PID "$SCRATCH/tiled.err")
focus_window "$tiled_window"
# Tab: the map alone in the window (no docks), so its centre is the view's
# centre; B: the stamp brush; then the preview, twice.
xdotool key Tab b ctrl+shift+g
viewer=$(wait_for_window $TILED_PID 60) || fail "no viewer window: $(cat "$SCRATCH/viewer.err" "$SCRATCH/tiled.err")"
focus_window "$tiled_window"
xdotool key ctrl+shift+g
sleep 1
[ "$(xdotool search --class Allegro | wc -l)" = 1 ] || fail "a second preview of the map started a second viewer"
[ "$(wc -l <"$SCRATCH/viewer.args")" = 1 ] || fail "the viewer was started more than once: $(cat "$SCRATCH/viewer.args")"
# Out of the way of the clicks in the middle of Tiled's window, and only
# then clicked (without a window manager the move is not instant).
xdotool windowmove "$viewer" 0 760
for _ in $(seq 100); do
  [[ $(xdotool getwindowgeometry "$viewer") == *"Position: 0,760"* ]] && break
  sleep 0.05
done
[[ $(xdotool getwindowgeometry "$viewer") == *"Position: 0,760"* ]] ||
  fail "the viewer's window did not move: $(xdotool getwindowgeometry "$viewer")"

# The viewer stands at the centre of Tiled's view, cell (16, 15), and reads
# a copy of the map in a folder of its own under TMPDIR.
read -r -a args <"$SCRATCH/viewer.args"
at=${args[5]}
[ "${args[*]:0:5}" = "--windowed --watch -C $SCRATCH/world --at" ] || fail "the viewer's arguments: ${args[*]}"
[[ $at =~ ^([0-9]+),([0-9]+)$ ]] && [ $((BASH_REMATCH[1] >> 5)) = 16 ] && [ $((BASH_REMATCH[2] >> 5)) = 15 ] ||
  fail "--at $at is not in cell (16, 15)"
preview=${args[6]}
folder=$(dirname "$preview")
[ "$(dirname "$folder")" = "$TMPDIR" ] && [ "$(stat -c %a "$folder")" = 700 ] ||
  fail "the preview is not in a private folder under TMPDIR: $(ls -ld "$folder")"

# Ten clicks, each painting one more cell of row 15 with sand: each reaches
# the viewer. The time from the click to the frame that first shows it; the
# clicks go through one xdotool reading commands, so that starting a process
# is not counted.
exec 5> >(xdotool -)
geometry=$(xdotool getwindowgeometry "$tiled_window")
[[ $geometry =~ Geometry:\ ([0-9]+)x([0-9]+) ]] || fail "Tiled's window geometry: $geometry"
cx=$((BASH_REMATCH[1] / 2)) cy=$((BASH_REMATCH[2] / 2))
times=() signalled=()
# Tiled paints where it last saw the pointer move: a press that comes
# before it has taken in the move (the first one into its map view takes
# longest) paints nothing.
echo "mousemove $((cx - 192)) $cy" >&5
sleep 0.5
for k in 1 2 3 4 5 6 7 8 9 10; do
  e=$(edits) r=$(reloads)
  echo "mousemove $((cx + 64 * (k - 3))) $cy" >&5
  sleep 0.2
  t0=$EPOCHREALTIME
  echo "click 1" >&5
  for _ in $(seq 1000); do [ "$(edits)" -gt "$e" ] && break; sleep 0.01; done
  [ "$(edits)" -gt "$e" ] || fail "click $k painted nothing: $(tail -3 "$SCRATCH/tiled.err")"
  edited=$(grep '^qml: edited ' "$SCRATCH/tiled.err" | sed -n "$((e + 1))p")
  [[ $edited =~ \ at\ ([0-9]+)$ ]] || fail "Tiled's edit $k: '$edited'"
  edit_ms=${BASH_REMATCH[1]}
  # The first version shown after the edit (one the preview wrote before
  # it, having found something else changed, does not count).
  shown=
  for _ in $(seq 1000); do
    shown=$(grep '^reloaded ' "$SCRATCH/viewer.out" | tail -n +$((r + 1)) | sed 's/.* shown at //' |
      awk -v e="$edit_ms" '$1 * 1000 >= e { print; exit }' || true)
    [ -n "$shown" ] && break
    sleep 0.01
  done
  [ -n "$shown" ] || fail "click $k never reached the viewer: $(cat "$SCRATCH/viewer.err")"
  times+=("$(awk -v a="$t0" -v b="$shown" 'BEGIN { printf "%.1f\n", (b - a) * 1000 }')")
  signalled+=("$(awk -v a="$edit_ms" -v b="$shown" 'BEGIN { printf "%.1f\n", b * 1000 - a }')")
  sleep 0.6
done
exec 5>&-
grep -q '^qml: edited 14 15 1 1 ' "$SCRATCH/tiled.err" && grep -q '^qml: edited 23 15 1 1 ' "$SCRATCH/tiled.err" ||
  fail "the clicks painted elsewhere than cells (14..23, 15): $(grep edited "$SCRATCH/tiled.err")"
# The middle of ten: the 5th and 6th's mean.
summary() {
  printf '%s\n' "${@:2}" | sort -n |
    awk -v what="$1" '{ t[NR] = $1 } END { printf "%s: median %.1f ms, worst %.1f ms\n", what, (t[5] + t[6]) / 2, t[NR] }'
}
summary "click to frame, 10 clicks" "${times[@]}"
summary "Tiled's edit signal to frame" "${signalled[@]}"
echo "each click: ${times[*]}"

# One stroke across four cells of row 17, the pointer moving every 10 ms as
# a hand drags it: one new version.
r=$(reloads)
xdotool mousemove $((cx - 64)) $((cy + 128)) mousedown 1 sleep 0.01 mousemove $cx $((cy + 128)) sleep 0.01 \
  mousemove $((cx + 64)) $((cy + 128)) sleep 0.01 mousemove $((cx + 128)) $((cy + 128)) sleep 0.01 mouseup 1
sleep 1
[ "$(reloads)" = $((r + 1)) ] || fail "one stroke gave $(($(reloads) - r)) versions"
# An undo is not signalled to scripts, and still reaches the viewer.
r=$(reloads)
xdotool key ctrl+z
for _ in $(seq 200); do [ "$(reloads)" -gt "$r" ] && break; sleep 0.01; done
[ "$(reloads)" -gt "$r" ] || fail "the undo never reached the viewer"
sleep 0.5

# The user's board is as it was; nothing was written beside it.
cmp -s "$board" "$SCRATCH/road.original" || fail "the preview changed the board before it was saved"
[ "$(ls -R "$SCRATCH/world")" = "$before" ] || fail "the preview wrote beside the board: $(ls -R "$SCRATCH/world")"

# The viewer's screen, against the board as Tiled then saves it.
focus_window "$viewer"
screenshot Screen.bmp "of the painted map"
focus_window "$tiled_window"
xdotool key ctrl+s
for _ in $(seq 300); do cmp -s "$board" "$SCRATCH/road.original" || break; sleep 0.1; done
cmp -s "$board" "$SCRATCH/road.original" && fail "Ctrl+S did not save the board: $(cat "$SCRATCH/tiled.err")"
# The board is on disk before Tiled has marked the document saved (a '*'
# in its title): a Ctrl+W before that would ask whether to save it.
for _ in $(seq 200); do [[ $(xdotool getwindowname "$tiled_window" 2>/dev/null) != *"*"* ]] && break; sleep 0.05; done
[[ $(xdotool getwindowname "$tiled_window" 2>/dev/null) != *"*"* ]] ||
  fail "Tiled still shows the document modified after Ctrl+S: $(xdotool getwindowname "$tiled_window")"
pose=(--x 480 --y 480)
[ $AT_TAKEN = 1 ] && pose=(--x "${at%,*}" --y "${at#*,}")
"$BIN/boardtool" render maps/road.brd "$SCRATCH/render.bmp" "${pose[@]}" >/dev/null
"$BIN/boardtool" render "$SCRATCH/road.original" "$SCRATCH/original.bmp" "${pose[@]}" >/dev/null
"$BIN/viewcheck" view Screen.bmp "$SCRATCH/original.bmp" 2>/dev/null && fail "the viewer still shows the board unpainted"
"$BIN/viewcheck" view Screen.bmp "$SCRATCH/render.bmp" || fail "the viewer does not show the map as painted"

# Closing the document ends the viewer and removes the copy.
focus_window "$tiled_window"
xdotool key ctrl+w
for _ in $(seq 100); do [ -z "$(xdotool search --class Allegro 2>/dev/null)" ] && break; sleep 0.1; done
[ -z "$(xdotool search --class Allegro 2>/dev/null)" ] || fail "the viewer outlived the document"
[ ! -e "$folder" ] || fail "the preview's folder outlived the document: $(ls -la "$folder")"

# A JSON map exported from the board, in Tiled: its cells keep the board's
# image names, relative to the folder the export ran in, where the viewer
# runs, and it shows what the board shows.
"$BIN/boardtool" export maps/road.brd maps/road.tmj >/dev/null
rm Screen.bmp
# (Once, in a full run, the map did not open after the shortcut and
# nothing said why: Tiled is given the focus and the shortcut typed again,
# up to three times, until the map's view is ready.)
views=$(grep -c '^qml: view ready' "$SCRATCH/tiled.err")
for _ in 1 2 3; do
  focus_window "$tiled_window"
  xdotool key ctrl+alt+o
  for _ in $(seq 50); do [ "$(grep -c '^qml: view ready' "$SCRATCH/tiled.err")" -gt "$views" ] && break; sleep 0.1; done
  [ "$(grep -c '^qml: view ready' "$SCRATCH/tiled.err")" -gt "$views" ] && break
done
[ "$(grep -c '^qml: view ready' "$SCRATCH/tiled.err")" -gt "$views" ] ||
  fail "Tiled never opened road.tmj: $(cat "$SCRATCH/tiled.err")"
xdotool key ctrl+shift+g
viewer=$(wait_for_window $TILED_PID 60) || fail "no viewer window for road.tmj: $(cat "$SCRATCH/viewer.err" "$SCRATCH/tiled.err")"
read -r -a args < <(sed -n 2p "$SCRATCH/viewer.args")
[ "${args[*]:0:4}" = "--windowed --watch -C $SCRATCH/world" ] || fail "the viewer's arguments for road.tmj: ${args[*]}"
folder=$(dirname "${args[6]}")
sleep 1
focus_window "$viewer"
screenshot Screen.bmp "of road.tmj"
"$BIN/viewcheck" view Screen.bmp "$SCRATCH/render.bmp" || fail "the viewer of road.tmj does not show the board"

# Quitting Tiled ends the viewer and removes the copy.
focus_window "$tiled_window"
xdotool key ctrl+q
wait_for_exit $TILED_PID 30
for _ in $(seq 100); do [ -z "$(xdotool search --class Allegro 2>/dev/null)" ] && break; sleep 0.1; done
[ -z "$(xdotool search --class Allegro 2>/dev/null)" ] || fail "the viewer outlived Tiled"
[ ! -e "$folder" ] || fail "the preview's folder outlived Tiled: $(ls -la "$folder")"
[ -z "$(ls -A "$TMPDIR" | grep -v '^qtsingleapp-tiled-')" ] || fail "left in TMPDIR: $(ls -A "$TMPDIR")"

# Tiled killed: the viewer ends within a few seconds, and its folder goes.
# (Escape first: the viewer closed by hand ends its preview.)
tiled --new-instance "$SCRATCH/world/maps/road.tmj" >"$SCRATCH/tiled.out" 2>"$SCRATCH/tiled.err" &
TILED_PID=$!
view_ready
tiled_window=$(wait_for_tiled_window "^road.tmj" $TILED_PID "$SCRATCH/tiled.err")
focus_window "$tiled_window"
xdotool key ctrl+shift+g
viewer=$(wait_for_window $TILED_PID 60) || fail "no viewer window for road.tmj: $(cat "$SCRATCH/viewer.err")"
folder=$(dirname "$(sed -n 3p "$SCRATCH/viewer.args" | awk '{ print $NF }')")
[ -d "$folder" ] || fail "no preview folder $folder"
# The viewer closed with Esc ends the preview; the shortcut starts another.
focus_window "$viewer"
for _ in $(seq 6); do
  hold_key Escape 0.3
  for _ in $(seq 20); do [ -z "$(xdotool search --class Allegro 2>/dev/null)" ] && break; sleep 0.1; done
  [ -z "$(xdotool search --class Allegro 2>/dev/null)" ] && break
done
for _ in $(seq 30); do [ -e "$folder" ] || break; sleep 0.1; done
[ ! -e "$folder" ] || fail "the preview's folder outlived its viewer"
focus_window "$tiled_window"
xdotool key ctrl+shift+g
wait_for_window $TILED_PID 60 >/dev/null || fail "no second viewer for road.tmj: $(cat "$SCRATCH/viewer.err")"
folder=$(dirname "$(sed -n 4p "$SCRATCH/viewer.args" | awk '{ print $NF }')")
[ -d "$folder" ] || fail "no preview folder $folder"
kill -KILL $TILED_PID
wait $TILED_PID 2>/dev/null || true
for _ in $(seq 50); do [ -z "$(xdotool search --class Allegro 2>/dev/null)" ] && break; sleep 0.1; done
[ -z "$(xdotool search --class Allegro 2>/dev/null)" ] || fail "the viewer outlived a killed Tiled"
[ ! -e "$folder" ] || fail "the preview's folder outlived a killed Tiled"
echo ok
