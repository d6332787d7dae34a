#!/usr/bin/env bash
# The main job: builds the library and its tools, then runs the store demo against a
# fresh Windows directory in the build tree (build/release/demo-windir), whose INI
# files are left there to look at.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs=$(nproc)
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j"$jobs" --target csdemo
windir="$PWD/build/release/demo-windir"
rm -rf "$windir"
CSLIB_WINDIR="$windir" build/release/tools/csdemo
