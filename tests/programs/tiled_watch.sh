# A real map (Tiled's own desert example, as boardtool export writes it in
# JSON) followed with --watch in a real window: crafted saves (a property
# nested 100,000 deep, a layer of 9 million cells in a few bytes, 4,096 tile
# appearances of 256 frames) are each reported and leave the last good map
# on screen, quickly; the next good save shows again.
source "$(dirname "$0")/common.bash"

examples=/usr/share/doc/tiled/examples
[ -f "$examples/desert.tmx" ] || { echo "skipped: Tiled's examples are not installed"; exit 77; }
mkdir "$SCRATCH/maps"
cd "$SCRATCH/maps"
cp "$examples/desert.tmx" "$examples/desert.tsx" "$examples/tmw_desert_spacing.png" .
"$BIN/boardtool" import desert.tmx desert.brd >/dev/null 2>&1 || fail "desert.tmx does not import"
"$BIN/boardtool" export desert.brd map.tmj >/dev/null || fail "boardtool export failed"
cp map.tmj good.tmj
cd "$SCRATCH"
start_xvfb

open_viewer "$BIN/groundview" --watch -C maps map.tmj
sleep 1
focus_window "$window"

expect_view desert.brd "at start"

# Each crafted save is reported once, within a few seconds, by name.
save_crafted() {
  local what=$1 reason=$2
  before=$(grep -c 'map\.tmj' "$SCRATCH/err" || true)
  mv "maps/crafted.tmj" maps/map.tmj
  for _ in $(seq 50); do
    [ "$(grep -c 'map\.tmj' "$SCRATCH/err" || true)" -gt "$before" ] && break
    sleep 0.1
  done
  kill -0 "$pid" 2>/dev/null || fail "the viewer died on $what: $(cat "$SCRATCH/err")"
  grep -q "map\.tmj.*$reason" "$SCRATCH/err" || fail "$what was not reported as '$reason': $(cat "$SCRATCH/err")"
  expect_view desert.brd "after $what"
}

python3 - "$SCRATCH/maps/crafted.tmj" <<'EOF'
import sys
open(sys.argv[1], "w").write('{"type":"map","orientation":"orthogonal","width":1,"height":1,"tilewidth":32,'
    '"tileheight":32,"properties":[{"name":"p","type":"class","value":' + "[" * 100000 + "]" * 100000 + '}]}')
EOF
save_crafted "a property nested 100,000 deep" "nests them more than 64 deep"

cat >maps/crafted.tmj <<'EOF'
{"type":"map","orientation":"orthogonal","width":3000,"height":3000,"tilewidth":32,"tileheight":32,
 "layers":[{"type":"tilelayer","name":"l","width":3000,"height":3000,"encoding":"base64","compression":"zlib","data":"eJw="}]}
EOF
save_crafted "a layer of 9 million cells" "the most a map may have"

python3 - "$SCRATCH/maps" <<'EOF'
import sys
open(sys.argv[1] + "/bomb.tsj", "w").write('{"type":"tileset","name":"b","tilewidth":32,"tileheight":32,'
    '"image":"tmw_desert_spacing.png","margin":1,"spacing":1,"tilecount":48,"columns":8,'
    '"tiles":[{"id":0,"animation":[' + ",".join('{"tileid":%d,"duration":100}' % (f % 48) for f in range(256)) + ']}]}')
sets = ",".join('{"firstgid":%d,"source":"bomb.tsj"}' % (1 + 48 * s) for s in range(512))
cells = ",".join(str((1 + 48 * (k % 512)) | (k // 512 % 8) << 29) for k in range(4096))
open(sys.argv[1] + "/crafted.tmj", "w").write('{"type":"map","orientation":"orthogonal","width":64,"height":64,'
    '"tilewidth":32,"tileheight":32,"tilesets":[' + sets + '],"layers":[{"type":"tilelayer","name":"l",'
    '"width":64,"height":64,"data":[' + cells + ']}]}')
EOF
save_crafted "4,096 appearances of 256 frames" "need 4096 tile images"

# The next good save shows again.
before=$(grep -c '^reloaded ' "$SCRATCH/out" || true)
cp maps/good.tmj maps/crafted.tmj
mv maps/crafted.tmj maps/map.tmj
for _ in $(seq 50); do
  [ "$(grep -c '^reloaded ' "$SCRATCH/out" || true)" -gt "$before" ] && break
  sleep 0.1
done
[ "$(grep -c '^reloaded ' "$SCRATCH/out" || true)" -gt "$before" ] || fail "the good save was not shown"
expect_view desert.brd "after the good save"

quit_viewer $pid
[ $STATUS -eq 0 ] || fail "viewer ended with status $STATUS: $(cat "$SCRATCH/err")"
echo ok
