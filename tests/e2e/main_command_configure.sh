#!/bin/sh
# The main command (scripts/simulate.sh) installs neither GoogleTest nor Google Benchmark: its
# configuration, with the options the script passes, must configure with both hidden from CMake.
# usage: main_command_configure.sh SOURCE_DIR BUILD_DIR
set -eu
source=$1
build=$2
# The -D options of the script's "cmake -S" command, continuation lines included.
options=$(sed -n '/^cmake -S/,/[^\\]$/p' "$source/scripts/simulate.sh" | tr ' \\' '\n\n' |
  grep '^-D' || true)
for wanted in -DTAVELO_TESTS=OFF -DTAVELO_BENCHMARKS=OFF; do
  if ! printf '%s\n' "$options" | grep -qx -- "$wanted"; then
    echo "scripts/simulate.sh configures without $wanted (its options: $(echo $options))" >&2
    exit 1
  fi
done
rm -rf "$build"
mkdir -p "$(dirname "$build")"
# shellcheck disable=SC2086
cmake -S "$source" -B "$build" $options -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON \
  -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON >"$build.log" 2>&1 || {
  cat "$build.log" >&2
  echo "the main command's configuration needs a package of the tests or benchmarks" >&2
  exit 1
}
rm -rf "$build" "$build.log"
echo "the main command's configuration ($(echo $options)) needs no GoogleTest and no Google Benchmark"
