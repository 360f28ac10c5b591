#!/usr/bin/env bash
# Installs what the build needs (tools/install-deps.sh build), builds the
# viewer and the map tools (groundview, boardtool, makeworld: no tests,
# benchmarks or fuzz targets) into build/bin/, then shows the default world.
# Arguments go to the viewer (./run.sh --help lists them).
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh build
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DGROUNDVIEW_TESTS=OFF -DGROUNDVIEW_BENCH=OFF -DGROUNDVIEW_FUZZ=OFF >/dev/null
cmake --build build -j"$(nproc)" --target groundview boardtool makeworld
exec build/bin/groundview "$@"
