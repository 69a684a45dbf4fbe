#!/usr/bin/env bash
# Installs what is missing, builds the terminal and starts it on the simulated
# card reader with a fresh data folder (build/data).
set -euo pipefail
cd "$(dirname "$0")"
tools/ensure-packages tools/deps/run.txt
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPOSTON_TESTS=OFF >/dev/null
cmake --build build -j "$(nproc)"
exec build/bin/poston "$@"
