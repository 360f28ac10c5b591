#!/usr/bin/env bash
# Runs every fuzz target for the same number of seconds, as many at a time as
# there are cores (FUZZ_JOBS=N: N at a time; FUZZ_JOBS=all: all at once,
# sharing the cores, so that SECONDS bounds the whole run), each starting
# from its seeds in fuzz/corpus/<target>/ (left untouched; what a run adds
# goes into BUILD/fuzz-work/). Prints executions and findings per target;
# the status is non-zero when any target found anything.
#   fuzz/run.sh BUILD_DIR SECONDS [TARGET...]
set -euo pipefail
build=$(cd "$1" && pwd)
seconds=$2
shift 2
src=$(cd "$(dirname "$0")" && pwd)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(board tilelist render tiled image walk)
case ${FUZZ_JOBS:-} in
  "") parallel=$(nproc) ;;
  all) parallel=${#targets[@]} ;;
  *[!0-9]* | 0) echo "FUZZ_JOBS: a number of targets at a time, or all" >&2; exit 2 ;;
  *) parallel=$FUZZ_JOBS ;;
esac
work=$build/fuzz-work
mkdir -p "$work"

run_one() {
  local target=$1 status=0
  rm -rf "$work/$target"
  mkdir -p "$work/$target/corpus" "$work/$target/findings"
  # Paths are absolute: each target moves into a scratch directory of its own.
  "$build/bin/${target}_fuzz" -max_total_time="$seconds" -timeout=30 -print_final_stats=1 \
    -artifact_prefix="$work/$target/findings/" \
    "$work/$target/corpus" "$src/corpus/$target" >"$work/$target/log" 2>&1 || status=$?
  echo "$status" >"$work/$target/status"
}

running=0
for target in "${targets[@]}"; do
  if [ $running -ge "$parallel" ]; then
    wait -n || true
    running=$((running - 1))
  fi
  run_one "$target" &
  running=$((running + 1))
done
wait

failed=0
for target in "${targets[@]}"; do
  status=$(cat "$work/$target/status")
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$target/log")
  findings=$(find "$work/$target/findings" -type f | wc -l)
  echo "fuzz $target: ${runs:-?} executions in ${seconds} s, $findings findings, status $status"
  if [ "$status" -ne 0 ] || [ "$findings" -ne 0 ]; then
    failed=1
    grep -E "ERROR|runtime error|fuzz check failed|SUMMARY" "$work/$target/log" | head -20 >&2 || true
    find "$work/$target/findings" -type f -printf "  finding: %p\n" >&2
  fi
done
exit $failed
