# makeworld draws the default world from code alone: run into an empty
# directory it must write exactly the files committed in data/, byte for byte.
# That proves both that it is deterministic and that data/ is up to date.
source "$(dirname "$0")/common.bash"

mkdir "$SCRATCH/world"
"$BIN/makeworld" "$SCRATCH/world" || fail "makeworld failed"
diff -r "$SCRATCH/world" "$SRC/data" >"$SCRATCH/diff" 2>&1 ||
  fail "data/ differs from what makeworld writes (run: build/bin/makeworld data): $(cat "$SCRATCH/diff")"

# boardtool finds nothing wrong with the map and every image it names.
"$BIN/boardtool" -C "$SRC" check 'data\test.brd' >"$SCRATCH/check" 2>&1 ||
  fail "boardtool check finds problems in data/test.brd: $(cat "$SCRATCH/check")"

# Run again over its own output: the board file is replaced, not refused.
"$BIN/makeworld" "$SCRATCH/world" || fail "makeworld failed over its own output"
diff -r "$SCRATCH/world" "$SRC/data" >/dev/null || fail "a second run wrote different bytes"

# Usage errors.
set +e
"$BIN/makeworld" >/dev/null 2>&1; status=$?
set -e
[ $status -eq 2 ] || fail "no arguments: status $status, expected 2"
set +e
"$BIN/makeworld" "$SCRATCH/no/such/dir" 2>"$SCRATCH/err"; status=$?
set -e
[ $status -eq 1 ] || fail "missing directory: status $status, expected 1"
grep -q "^makeworld: $SCRATCH/no/such/dir/water.bmp: not written: cannot create a temporary file beside it: No such file or directory" "$SCRATCH/err" || fail "missing directory: said '$(cat "$SCRATCH/err")'"
echo ok
