#!/usr/bin/env bash
# Builds and runs every test twice: an optimised build (which also builds the
# benchmarks), and a build under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs=$(nproc)

run() {  # run <build dir> <cmake options...>
  local dir=$1
  shift
  echo "== $dir"
  cmake -S . -B "$dir" "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
  (cd "$dir" && ctest --output-on-failure -j"$jobs" --timeout 300)
}

run build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1 \
  run build/asan -DCMAKE_BUILD_TYPE=Debug -DCSLIB_SANITIZE=ON -DCSLIB_BUILD_BENCH=OFF
echo "all tests passed in both builds"
