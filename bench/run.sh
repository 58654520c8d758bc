#!/usr/bin/env bash
# Builds the program and the simulator in build/, then prints the benchmark table. Takes about
# three minutes; run it on a quiet machine (no builds alongside) for clean figures.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ ! -f build/CMakeCache.txt ]; then
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build build -j2 --target quelmar quelmar-sim >/dev/null
exec python3 bench/bench.py "$@"
