#!/usr/bin/env bash
# Runs every benchmark program of a build (default build/release) with repetitions and
# prints the medians, then the ratios listed in bench/ratios.txt, all from this one
# run: the machine is shared, so only figures measured side by side are compared.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
[[ -d "$build/bench" ]] || { echo "no benchmarks in $build (build it first)" >&2; exit 1; }

medians=$(mktemp)
trap 'rm -f "$medians"' EXIT
for program in "$build"/bench/*_bench; do
  [[ -x "$program" ]] || continue
  "$program" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
             --benchmark_format=csv 2>/dev/null |
    awk -F, '$1 ~ /_median"?$/ { name = $1; gsub(/"/, "", name); sub(/_median$/, "", name);
                                 printf "%s %s %s\n", name, $3, $5 }' >>"$medians"
done

echo "== medians (real time)"
awk '{ printf "%-60s %12.1f %s\n", $1, $2, $3 }' "$medians"

echo "== ratios"
grep -v -E '^\s*(#|$)' bench/ratios.txt | while IFS='|' read -r label num den target; do
  awk -v label="$label" -v num="$(echo $num)" -v den="$(echo $den)" -v target="$target" '
    function ns(t, u) { return u == "us" ? t * 1e3 : u == "ms" ? t * 1e6 : u == "s" ? t * 1e9 : t }
    $1 == num { a = ns($2, $3) } $1 == den { b = ns($2, $3) }
    END { if (a == "" || b == "" || b == 0) printf "%-50s (not measured)\n", label;
          else printf "%-50s %6.2f   target:%s\n", label, a / b, target }' "$medians"
done
