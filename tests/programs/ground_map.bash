# A Tiled map of one's own for the viewer's program tests, made as a map
# maker would in Tiled: my.tmx, 64 x 64 cells in stripes of four tiles so
# that every place looks different, its tiles in the external tileset
# ground.tsx (one image a tile), and the sky named by the map's "sky"
# property. Nothing animates. Writes into directory $1.
make_ground_map() {
  local dir=$1 tx ty row
  mkdir -p "$dir"
  cp "$SRC/data/grass.bmp" "$SRC/data/sand.bmp" "$SRC/data/brick.bmp" "$SRC/data/road.bmp" \
    "$SRC/data/sky.bmp" "$dir/"
  cat >"$dir/ground.tsx" <<'TSX'
<?xml version="1.0" encoding="UTF-8"?>
<tileset version="1.8" tiledversion="1.8.2" name="ground" tilewidth="32" tileheight="32" tilecount="4" columns="0">
 <grid orientation="orthogonal" width="1" height="1"/>
 <tile id="0"><image width="32" height="32" source="grass.bmp"/></tile>
 <tile id="1"><image width="32" height="32" source="sand.bmp"/></tile>
 <tile id="2"><image width="32" height="32" source="brick.bmp"/></tile>
 <tile id="3"><image width="32" height="32" source="road.bmp"/></tile>
</tileset>
TSX
  {
    echo '<?xml version="1.0" encoding="UTF-8"?>'
    echo '<map version="1.8" tiledversion="1.8.2" orientation="orthogonal" renderorder="right-down" width="64" height="64" tilewidth="32" tileheight="32" infinite="0" nextlayerid="2" nextobjectid="1">'
    echo ' <properties><property name="sky" type="file" value="sky.bmp"/></properties>'
    echo ' <tileset firstgid="1" source="ground.tsx"/>'
    echo ' <layer id="1" name="ground" width="64" height="64"><data encoding="csv">'
    for ty in $(seq 0 63); do
      row=""
      for tx in $(seq 0 63); do row+="$((1 + (tx / 3 + 2 * (ty / 2)) % 4)),"; done
      [ "$ty" = 63 ] && row=${row%,}
      echo "$row"
    done
    echo ' </data></layer>'
    echo '</map>'
  } >"$dir/my.tmx"
}
