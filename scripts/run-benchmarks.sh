#!/usr/bin/env bash
# Builds the plain build and runs the benchmarks with their anchors; the ratios to the anchors
# and their targets close the report. Each benchmark runs five times, the runs of all of them
# interleaved in random order, so that a machine that is busier for a while slows all of them
# alike; the ratios compare the means. Extra arguments go to Google Benchmark (e.g.
# --benchmark_filter=Row) and override these.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/scripts/setup-machine.sh" full
build=$top/build/release
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVELO_BENCHMARKS=ON
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 4)" --target tavelo_benchmarks
"$build/bench/tavelo_benchmarks" --benchmark_repetitions=5 \
  --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true "$@"
