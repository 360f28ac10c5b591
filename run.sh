#!/usr/bin/env bash
# Builds groundview and shows the default world. Arguments go to the viewer.
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh build
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGROUNDVIEW_TESTS=OFF -DGROUNDVIEW_BENCH=OFF >/dev/null
cmake --build build -j"$(nproc)" --target groundview
exec build/bin/groundview "$@"
