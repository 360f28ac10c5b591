# The GIF of a walk in a real browser: headless Chromium shows a page with
# it, and its screenshot holds one of the GIF's frames pixel for pixel.
source "$(dirname "$0")/common.bash"
command -v chromium-headless-shell >/dev/null || { echo "skipped: chromium-headless-shell is not installed"; exit 77; }

cd "$SRC"
"$BIN/boardtool" walk new "$SCRATCH/tour.walk" --keys "up*20 left*10 up*15" || fail "walk new failed"
"$BIN/boardtool" video data/test.brd "$SCRATCH/tour.walk" "$SCRATCH/tour.gif" || fail "video .gif failed"
cd "$SCRATCH"
printf '<html><body style="margin:0;background:#fff"><img src="tour.gif" style="display:block"></body></html>' >page.html
# The browser's own home and cache stay in the scratch directory.
HOME=$SCRATCH timeout 120 chromium-headless-shell --no-sandbox --disable-gpu --hide-scrollbars \
  --window-size=480,180 --virtual-time-budget=500 --screenshot="$SCRATCH/shot.png" \
  "file://$SCRATCH/page.html" >"$SCRATCH/browser.log" 2>&1 || fail "chromium: $(tail -3 "$SCRATCH/browser.log")"
[ -f shot.png ] || fail "chromium wrote no screenshot: $(tail -3 "$SCRATCH/browser.log")"
match=$("$BIN/videocheck" match tour.gif shot.png) || fail "videocheck match failed"
[[ $match =~ ^frame\ [0-9]+\ psnr\ 1000.00$ ]] || fail "the browser shows no frame of the GIF: $match"
echo "ok: the browser shows $match"
