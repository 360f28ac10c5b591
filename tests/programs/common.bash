# Helpers of the whole-program tests (tests/programs/*.sh); sourced by each test script, which gets
# the directory of the built programs and the source tree as $1 and $2.
set -euo pipefail
BIN=$1
SRC=$2
SCRATCH=$(mktemp -d /tmp/groundview-program-XXXXXX)
XVFB_PID=
cleanup() {
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
  rm -rf "$SCRATCH"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

# Works in a copy of the default world: $SCRATCH/data, from $SCRATCH.
enter_world_copy() {
  cp -r "$SRC/data" "$SCRATCH/data"
  cd "$SCRATCH"
}

# Starts a private Xvfb and exports its DISPLAY; $1, if given, is the
# screen's size (default 800x600x24). Xvfb picks a free display
# number itself and reports it (-displayfd), so tests running side by side
# never share a server. -noreset: by default the server resets whenever its
# last client leaves (as the readiness check here does), and a client that
# connects during the reset is refused.
start_xvfb() {
  local n size=${1:-800x600x24}
  Xvfb -displayfd 3 -screen 0 "$size" -nolisten tcp -noreset 3>"$SCRATCH/display" >/dev/null 2>&1 &
  XVFB_PID=$!
  for _ in $(seq 300); do
    n=$(cat "$SCRATCH/display" 2>/dev/null || true)
    if [ -n "$n" ] && xdpyinfo -display ":$n" >/dev/null 2>&1 && kill -0 $XVFB_PID 2>/dev/null; then
      export DISPLAY=":$n"
      return 0
    fi
    kill -0 $XVFB_PID 2>/dev/null || break
    sleep 0.1
  done
  fail "no Xvfb display could start"
}

# Waits up to $2 seconds for the window of process $1 to appear; prints its id.
# Allegro's window carries no _NET_WM_PID, only its class "Allegro"; each test
# has a display of its own, so the one window of that class is the viewer's.
wait_for_window() {
  local pid=$1 limit=$2 id
  for _ in $(seq $((limit * 10))); do
    id=$(xdotool search --class Allegro 2>/dev/null | head -1 || true)
    if [ -n "$id" ]; then echo "$id"; return 0; fi
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# Waits up to 30 seconds for Tiled (process $2) to show a window whose name
# matches $1 (Tiled names its window after the document it shows); prints
# its id. Fails, quoting Tiled's log $3, when Tiled ends or shows none.
wait_for_tiled_window() {
  local name=$1 pid=$2 log=$3 id
  for _ in $(seq 300); do
    id=$(xdotool search --name "$name" 2>/dev/null | head -1 || true)
    if [ -n "$id" ]; then echo "$id"; return 0; fi
    kill -0 "$pid" 2>/dev/null || fail "Tiled ended before showing $name: $(cat "$log")"
    sleep 0.1
  done
  fail "Tiled showed no window $name: $(cat "$log")"
}

# Starts the viewer $1 (the built groundview or an installed copy) in a
# window with the arguments after it, its output in $SCRATCH/out and
# $SCRATCH/err; sets $pid.
start_viewer() {
  "$1" --windowed "${@:2}" >"$SCRATCH/out" 2>"$SCRATCH/err" &
  pid=$!
}

# The same, then waits up to a minute for its window; sets $window.
open_viewer() {
  start_viewer "$@"
  window=$(wait_for_window $pid 60) || fail "no viewer window: $(cat "$SCRATCH/err")"
}

# Waits up to $2 seconds for process $1 to end; its exit status lands in $STATUS.
wait_for_exit() {
  local pid=$1 limit=$2
  for _ in $(seq $((limit * 10))); do
    if ! kill -0 "$pid" 2>/dev/null; then
      set +e; wait "$pid"; STATUS=$?; set -e
      return 0
    fi
    sleep 0.1
  done
  kill -9 "$pid" 2>/dev/null || true
  fail "process $pid still running after $limit seconds"
}

# Gives window $1 the input focus, trying for up to 10 seconds; without a
# window manager nobody else does. Keys typed with xdotool go to the focused
# window: `xdotool key --window` sends synthetic events, which fail against
# Allegro's window.
focus_window() {
  local window=$1
  for _ in $(seq 20); do
    xdotool windowfocus --sync "$window" >/dev/null 2>&1 || true
    [ "$(xdotool getwindowfocus 2>/dev/null)" = "$window" ] && return 0
    sleep 0.5
  done
  fail "window $window never got the input focus"
}

# Holds key $1 down for $2 seconds. The viewer samples held keys once per
# tick (33 a second), so a hold of a good part of a second is seen many times.
hold_key() {
  xdotool keydown "$1"; sleep "$2"; xdotool keyup "$1"
}

# Ends the viewer (process $1) with Esc. On a loaded machine Allegro's input
# thread may take in a key's press and release together, between two of the
# viewer's looks at the keyboard, so the press is tried again until the
# viewer is gone (at most about a minute); its exit status lands in $STATUS.
quit_viewer() {
  local pid=$1
  for _ in $(seq 6); do
    hold_key Escape 0.5
    for _ in $(seq 100); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -0 "$pid" 2>/dev/null || break
  done
  wait_for_exit "$pid" 5
}

# F12 into the focused viewer until it has written the screenshot $1 (the
# viewer writes it whole under its name, so once there it is complete).
# On a loaded machine a press can come and go between two of the viewer's
# looks at the keyboard, so it is pressed again, up to three times, each
# given 5 seconds; $2 says when, for the message.
screenshot() {
  local file=$1 when=$2
  rm -f "$file"
  for _ in 1 2 3; do
    hold_key F12 0.3
    for _ in $(seq 50); do [ -f "$file" ] && return 0; sleep 0.1; done
  done
  fail "F12 wrote no $file ($when)"
}

# For a viewer run with -C maps: F12 writes maps/Screen.bmp, whose view must
# be the one boardtool renders of maps/$1 at the start pose (no key but F12
# was held); $2 says when, for the message.
expect_view() {
  screenshot maps/Screen.bmp "$2"
  (cd maps && "$BIN/boardtool" render "$1" "$SCRATCH/render.bmp") || fail "boardtool render $1 failed"
  "$BIN/viewcheck" view maps/Screen.bmp render.bmp || fail "the view is not $1 ($2)"
}
