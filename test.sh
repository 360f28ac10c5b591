#!/usr/bin/env bash
# Builds groundview and runs every test: the suite as built for use, then the
# same suite under AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer,
# built for debugging so that assertions and the death tests that expect them run,
# then the fuzz targets; beside all that, the README's run command on a fresh
# minimal Debian (tests/fresh_machine.sh).
#
# The work is spread over the cores: while one build or test run goes on in
# front, the builds it does not need yet and the fresh-machine check go on
# behind it at the lowest priority (nice 19), taking what CPU it leaves;
# whatever the front waits for is raised to normal priority. Each stage's time is printed as it ends, and
# all of them at the end. Any failure stops everything (each background job
# with its process group) and exits non-zero. Nothing can hang: every test
# has a timeout, each ctest run and the fuzz run have one in all, and the
# fresh-machine check has its own (GROUNDVIEW_FRESH_LIMIT).
#   GROUNDVIEW_FUZZ_SECONDS: how long the fuzz targets run, all at once
#   (default 150: on 2 cores each of the six gets about 50 s of CPU).
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh test
jobs=$(nproc)
fuzz_seconds=${GROUNDVIEW_FUZZ_SECONDS:-150}
mkdir -p build

start=$SECONDS
timings=()
declare -A bg=()
load() { cut -d' ' -f1-3 /proc/loadavg; }
# Runs "$@" as stage $1, noting its time and the load when it ended. The
# command runs as a job of its own that the script waits for, so that INT
# and TERM are handled at once (bash runs a trap only between commands, but
# a wait ends on a signal) and stop it with the rest.
stage() {
  local name=$1 begun=$SECONDS status=0
  shift
  echo "== $name"
  if [ "$1" = finish ]; then
    "$@" || status=$?
  else
    set -m
    "$@" &
    bg[front]=$!
    set +m
    wait "${bg[front]}" || status=$?
    # Whatever a failed stage left running goes with it.
    [ $status -eq 0 ] || kill -TERM -- "-${bg[front]}" 2>/dev/null || true
    unset "bg[front]"
  fi
  timings+=("$(printf '%-28s %5d s  (at %5d s; load %s)%s' "$name" $((SECONDS - begun)) $((SECONDS - start)) \
    "$(load)" "$([ $status -eq 0 ] || echo "  FAILED, status $status")")")
  echo "== $name: $((SECONDS - begun)) s, status $status, load $(load)"
  return $status
}
summary() {
  echo "stage times (this machine has $jobs cores):"
  printf '  %s\n' "${timings[@]}"
  echo "  all                          $((SECONDS - start)) s"
}

# Background jobs, each in a process group of its own (job control on while
# it starts) so that it can be reprioritised and stopped whole: name -> id.
background() {
  local name=$1 log=$2
  shift 2
  set -m
  nice -n 19 "$@" >"$log" 2>&1 &
  bg[$name]=$!
  set +m
}
# Waits for background job $1 at normal priority; its status is the job's.
finish() {
  local name=$1 status=0
  renice -n 0 -g "${bg[$name]}" >/dev/null 2>&1 || true
  wait "${bg[$name]}" || status=$?
  unset "bg[$name]"
  return $status
}
# The fresh-machine check is asked to stop and cleans up its root itself;
# a build is stopped with its whole process group.
stop_background() {
  local name
  for name in "${!bg[@]}"; do
    if [ "$name" = fresh ]; then
      kill -TERM "${bg[$name]}" 2>/dev/null || true
    else
      kill -TERM -- "-${bg[$name]}" 2>/dev/null || true
    fi
  done
  for name in "${!bg[@]}"; do
    wait "${bg[$name]}" 2>/dev/null || true
  done
}
on_exit() {
  local status=$?
  trap - EXIT
  stop_background
  [ ${#timings[@]} -eq 0 ] || summary
  exit $status
}
trap on_exit EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

release=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DGROUNDVIEW_TESTS=ON -DGROUNDVIEW_BENCH=ON -DGROUNDVIEW_FUZZ=OFF)
# The sanitizer build leaves out the benchmarks: nothing runs them there. It
# keeps assertions (no NDEBUG) at -O1, which AddressSanitizer's own
# documentation advises: the tests run about twice as fast as at -O0.
sanitize=(-DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS=-O1 -DGROUNDVIEW_SANITIZE=ON -DGROUNDVIEW_BENCH=OFF)
fuzz=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DGROUNDVIEW_FUZZ=ON -DGROUNDVIEW_TESTS=OFF -DGROUNDVIEW_BENCH=OFF)
# Compilations are cached between runs and between checkouts, so that a run
# compiles only what changed since the last (ccache; paths below this
# checkout are hashed relative to it). GROUNDVIEW_CCACHE_DIR moves the cache.
if [ "$(id -u)" -eq 0 ]; then ccache_dir=/var/cache/groundview/ccache; else ccache_dir=$HOME/.cache/groundview-ccache; fi
export CCACHE_DIR=${GROUNDVIEW_CCACHE_DIR:-$ccache_dir} CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1 CCACHE_MAXSIZE=4G
export CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime
# Configures and builds tree $1 with the options after it (and the
# environment before the command), every compiler call through ccache.
build() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache "$@" >/dev/null &&
    cmake --build "$dir" -j"$jobs" ${target:+--target "$target"}
}
# Each test has its own timeout (tests/CMakeLists.txt), and the whole run one
# too (timeout, run straight from a stage, leads the stage's process group).
# A build tree that has run its tests before starts the slowest first (ctest
# keeps their times in Testing/Temporary/CTestCostData.txt).
ctest=(timeout -k 30 1500 ctest --output-on-failure -j"$jobs" --timeout 600 --test-dir)

# The fresh-machine check needs no build of ours: it starts first (log:
# build/fresh_machine.log). So does the fuzz build (build/fuzz-build.log).
background fresh build/fresh_machine.log bash tests/fresh_machine.sh .
background fuzz-build build/fuzz-build.log env CC=clang CXX=clang++ target=fuzzers \
  bash -c "$(declare -f build); jobs=$jobs; build build-fuzz ${fuzz[*]}"

stage "release build" build build "${release[@]}"
# The sanitizer build goes on behind the release tests (build/sanitize-build.log).
background sanitize-build build/sanitize-build.log \
  bash -c "$(declare -f build); jobs=$jobs; build build-sanitize ${sanitize[*]}"
stage "release tests" "${ctest[@]}" build

stage "sanitizer build (rest)" finish sanitize-build || { tail -n 50 build/sanitize-build.log; exit 1; }
# The slowest tests first, as far as the release run knows them.
if [ -f build/Testing/Temporary/CTestCostData.txt ] && [ ! -f build-sanitize/Testing/Temporary/CTestCostData.txt ]; then
  mkdir -p build-sanitize/Testing/Temporary
  cp build/Testing/Temporary/CTestCostData.txt build-sanitize/Testing/Temporary/
fi
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export LSAN_OPTIONS=suppressions=$PWD/tests/sanitize/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
stage "sanitizer tests" "${ctest[@]}" build-sanitize
unset ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS

# The fuzz targets, built with clang's libFuzzer and the sanitizers, all run
# at once from their seeds for $fuzz_seconds; any finding fails the run.
stage "fuzz build (rest)" finish fuzz-build || { tail -n 50 build/fuzz-build.log; exit 1; }
stage "fuzzing" timeout -k 30 $((fuzz_seconds + 300)) env FUZZ_JOBS=all fuzz/run.sh build-fuzz "$fuzz_seconds"

echo "fresh-machine check (tests/fresh_machine.sh; whole log in build/fresh_machine.log):"
fresh_status=0
stage "fresh-machine check (rest)" finish fresh || fresh_status=$?
case $fresh_status in
  0) grep -E '^(fresh_machine |  [a-z0-9_]+: -l|ok$)' build/fresh_machine.log ;;
  77) cat build/fresh_machine.log ;;
  *) cat build/fresh_machine.log; echo "FAIL: fresh-machine check, status $fresh_status" >&2; exit 1 ;;
esac
