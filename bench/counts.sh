#!/usr/bin/env bash
# Counts, under callgrind, the instructions one memory-object cycle, one malloc floor
# cycle and one list element cost in the memory benchmarks of a build (default
# build/release). Counts repeat from run to run where times on a shared machine do not;
# each is the benchmark function's inclusive count over the calls it made of one
# marker function (CSAllocMemory, malloc, model::Alloc, CSList::Append, operator new).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
program="$build/bench/memory_bench"
[[ -x "$program" ]] || { echo "no $program (build it first)" >&2; exit 1; }
command -v valgrind >/dev/null || { echo "valgrind is not installed" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

count() {  # count <benchmark> <marker callee> <marker calls per unit> <unit>
  local name=$1 marker=$2 per=$3 unit=$4
  valgrind --tool=callgrind --callgrind-out-file="$work/$name" "$program" \
    --benchmark_filter="^$name\$" --benchmark_min_time=1 >/dev/null 2>&1
  callgrind_annotate --tree=calling --inclusive=yes "$work/$name" 2>/dev/null |
    awk -v fn="::$name(benchmark::State&)" -v marker="$marker" -v per="$per" \
        -v name="$name" -v unit="$unit" '
      # The line of the function itself (*), then what it calls (>), N times each.
      $3 == "*" { mine = index($0, fn) > 0
                  if (mine) { v = $1; gsub(",", "", v); if (v + 0 > total + 0) total = v }
                  next }
      /^ *$/ { mine = 0 }
      mine && $3 == ">" && index($0, marker) && match($0, /\([0-9,]+x\)/) {
        c = substr($0, RSTART + 1, RLENGTH - 3); gsub(",", "", c); calls += c }
      END { if (calls == 0) { printf "%-22s (not counted)\n", name; exit }
            printf "%-22s %8.1f instructions per %s\n", name, total * per / calls, unit }'
}

{
  count MemObjectCycle CSAllocMemory 1 cycle
  count MallocFloor ":malloc " 2 cycle
  count MemObjectCycleModel "model::Alloc" 1 cycle
  count ListAppendDelete CSList::Append 1 element
  count StdListAppendDelete "operator new(unsigned long)" 1 element
} | tee "$work/counts"
awk '{ n[$1] = $2 } END {
  if (n["MallocFloor"] > 0) printf "cycle against the floor: %.2f\n", n["MemObjectCycle"] / n["MallocFloor"]
  if (n["MallocFloor"] > 0 && n["MemObjectCycleModel"] > 0)
    printf "stripped model against the floor: %.2f\n", n["MemObjectCycleModel"] / n["MallocFloor"]
  if (n["StdListAppendDelete"] > 0)
    printf "CSList against std::list: %.2f\n", n["ListAppendDelete"] / n["StdListAppendDelete"] }' "$work/counts"
