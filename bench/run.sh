#!/usr/bin/env bash
# Runs the benchmarks that exist so far and prints each as a ratio against
# its baseline (absolute times on shared build machines are not stable).
#
#   bench/run.sh [REPETITIONS]     default 10
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
repetitions=${1:-10}
export CCACHE_BASEDIR=$root CCACHE_NOHASHDIR=1

cmake --preset bench >/dev/null
cmake --build --preset bench -j2 >/dev/null

out=$(mktemp)
trap 'rm -f "$out"' EXIT
build/bench/bench/parse_bench --benchmark_repetitions="$repetitions" --benchmark_report_aggregates_only=true \
  --benchmark_min_time=0.2 --benchmark_format=csv 2>/dev/null >"$out"

# The median CPU time of a benchmark, in ns.
median() { grep "^\"$1_median\"" "$out" | cut -d, -f4; }
ratio() { awk -v base="$(median "$1")" -v ours="$(median "$2")" 'BEGIN { printf "%.2f", base / ours }'; }

echo "ParseReply throughput against jsmn tokenising alone (target: at least 0.80x)"
printf '  status reply:            %sx  (jsmn %s ns, ParseReply %s ns, medians of %s)\n' \
  "$(ratio BM_JsmnStatus BM_ParseStatus)" "$(median BM_JsmnStatus)" "$(median BM_ParseStatus)" "$repetitions"
printf '  40-entry config list:    %sx  (jsmn %s ns, ParseReply %s ns)\n' \
  "$(ratio BM_JsmnConfigList BM_ParseConfigList)" "$(median BM_JsmnConfigList)" "$(median BM_ParseConfigList)"
