#!/usr/bin/env bash
# Builds the plain build and runs the benchmarks with their anchors; the ratios to the anchors
# and their targets close the report. Extra arguments go to Google Benchmark
# (e.g. --benchmark_filter=Row).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/scripts/setup-machine.sh"
build=$top/build/release
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 4)" --target tavelo_benchmarks
"$build/bench/tavelo_benchmarks" "$@"
