#!/usr/bin/env bash
# Builds groundview and runs every test: the suite as built for use, then the
# same suite under AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer,
# built for debugging so that assertions and the death tests that expect them run,
# then the fuzz targets; beside all that, at the lowest priority, the README's
# run command on a fresh minimal Debian (tests/fresh_machine.sh).
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh test
jobs=$(nproc)

# The fresh-machine check needs no build of ours: it starts first and takes
# what CPU the rest leaves. Its log: build/fresh_machine.log. Stopped (and
# its chroot cleaned up) if anything below fails.
mkdir -p build
nice -n 19 bash tests/fresh_machine.sh . >build/fresh_machine.log 2>&1 &
fresh_pid=$!
trap 'kill "$fresh_pid" 2>/dev/null || true; wait "$fresh_pid" 2>/dev/null || true' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGROUNDVIEW_TESTS=ON -DGROUNDVIEW_BENCH=ON \
  -DGROUNDVIEW_FUZZ=OFF >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DGROUNDVIEW_SANITIZE=ON \
  -DGROUNDVIEW_BENCH=OFF >/dev/null
cmake --build build-sanitize -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 \
LSAN_OPTIONS=suppressions=$PWD/tests/sanitize/lsan.supp:print_suppressions=0 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-sanitize --output-on-failure -j"$jobs"

# The fuzz targets, built with clang's libFuzzer and the sanitizers, each run
# for a minute from its seeds; any finding fails the run.
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGROUNDVIEW_FUZZ=ON \
  -DGROUNDVIEW_TESTS=OFF -DGROUNDVIEW_BENCH=OFF >/dev/null
cmake --build build-fuzz -j"$jobs" --target fuzzers
fuzz/run.sh build-fuzz 60

echo "fresh-machine check (tests/fresh_machine.sh; whole log in build/fresh_machine.log):"
fresh_status=0
wait "$fresh_pid" || fresh_status=$?
trap - EXIT
case $fresh_status in
  0) grep -E '^(fresh_machine |  [a-z0-9_]+: -l|ok$)' build/fresh_machine.log ;;
  77) cat build/fresh_machine.log ;;
  *) cat build/fresh_machine.log; echo "FAIL: fresh-machine check, status $fresh_status" >&2; exit 1 ;;
esac
