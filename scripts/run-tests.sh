#!/usr/bin/env bash
# Installs what the build needs, builds the library and its tests twice (plain, and with
# AddressSanitizer + UndefinedBehaviorSanitizer) and runs the whole test suite in both.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/setup-machine.sh full

jobs=$(nproc 2>/dev/null || echo 4)

run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVELO_TESTS=ON -DTAVELO_BENCHMARKS=ON "$@"
  cmake --build "$dir" -j "$jobs"
  mkdir -p "$dir/test-tmp"
  (cd "$dir" && ctest --output-on-failure --no-tests=error -j "$jobs")
}

echo "== plain build"
run_suite build/release

# The sanitizer build runs the same tests; only the compliance checker is skipped there (it
# cannot load a library built with the sanitizers) and says so.
echo "== sanitizer build"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
run_suite build/sanitize -DTAVELO_SANITIZE=ON
