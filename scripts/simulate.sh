#!/usr/bin/env bash
# The main command: installs what building and running the simulation needs, builds the library,
# Tavelo.fmu and tavelo-sim (not the tests and benchmarks), simulates the FMU's default
# experiment with tavelo-sim and draws the pendulum's states. Leaves "dsres.mat" and "dsres.png"
# in the current folder.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/scripts/setup-machine.sh" simulate
build=$top/build/release
# Its Tavelo.fmu carries the Linux library alone, also in a build folder where the Windows script
# packed the DLL in before.
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVELO_TESTS=OFF \
  -DTAVELO_BENCHMARKS=OFF -DTAVELO_WIN32_DLL=
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 4)"
"$build/host/tavelo-sim" "$build/Tavelo.fmu"
# Debian's interpreter, which has python3-numpy and python3-matplotlib.
/usr/bin/python3 "$top/scripts/plot_result.py" dsres.mat -o dsres.png
