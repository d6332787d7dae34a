#!/usr/bin/env bash
# The main job: builds the library and its tools, then runs the demo.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs=$(nproc)
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j"$jobs" --target csdemo
build/release/tools/csdemo
