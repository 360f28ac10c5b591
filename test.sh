#!/usr/bin/env bash
# Builds groundview and runs every test: the suite as built for use, then the
# same suite under AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer,
# built for debugging so that assertions and the death tests that expect them run.
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh test
jobs=$(nproc)

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGROUNDVIEW_TESTS=ON >/dev/null
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
