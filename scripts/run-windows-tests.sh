#!/usr/bin/env bash
# Builds the Windows DLL and the tests for Windows with mingw-w64, and runs the unit and
# FMI-boundary tests under wine. The 32-bit DLL (the one hosts load) is built and checked in
# every case: PE32, imports from Windows system DLLs only, the 24 exports with ordinals 1 to 24.
# The suite runs on that 32-bit build where this machine runs 32-bit Windows programs; where it
# cannot ("Exec format error"), on a 64-bit build of the same sources under wine64.
#
# TAVELO_WINDOWS_TARGET=win64 takes the 64-bit way whatever the machine can do.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/setup-machine.sh full

jobs=$(nproc 2>/dev/null || echo 4)
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$jobs}
export WINEDEBUG=-all
export WINEPREFIX=$PWD/build/wine-prefix
mkdir -p "$WINEPREFIX"

configure_and_build() {
  local dir=$1 triplet=$2; shift 2
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    --toolchain "$PWD/cmake/toolchain-$triplet.cmake" "$@"
  cmake --build "$dir" -j "$jobs"
}

# Can this machine run a 32-bit Windows program? A tiny one tells.
probe_dir=build/windows-probe
mkdir -p "$probe_dir"
printf 'int main(void) { return 0; }\n' > "$probe_dir/probe.c"
i686-w64-mingw32-gcc-posix -o "$probe_dir/probe32.exe" "$probe_dir/probe.c"
if [ "${TAVELO_WINDOWS_TARGET:-}" = win64 ]; then
  target=win64
  reason="TAVELO_WINDOWS_TARGET=win64 asks for the 64-bit build"
elif probe_output=$(wine "$probe_dir/probe32.exe" 2>&1); then
  target=win32
  reason="a 32-bit Windows program runs under wine on this machine"
else
  target=win64
  reason="a 32-bit Windows program does not run here ($(echo "$probe_output" | tail -n 1))"
fi
echo "== Windows suite on the $target build: $reason"

# From here on wine runs with the loader of the chosen build; one server for the whole run.
if [ "$target" = win32 ]; then wine=wine; else wine=/usr/lib/wine/wine64; fi
wineserver -p
trap 'wineserver -k || true' EXIT
"$wine" cmd /c exit 0 >/dev/null 2>&1 || true  # makes the prefix before tests start in parallel

echo "== Windows build, 32-bit (i686-w64-mingw32)"
if [ "$target" = win32 ]; then
  configure_and_build build/win32 i686-w64-mingw32
else
  configure_and_build build/win32 i686-w64-mingw32 -DTAVELO_TESTS=OFF
  cmake -DLIB=build/win32/binaries/win32/Tavelo.dll -DOBJDUMP=i686-w64-mingw32-objdump \
    -DFORMAT=pei-i386 -P tests/check_dll.cmake
  echo "== Windows build, 64-bit (x86_64-w64-mingw32)"
  configure_and_build build/win64 x86_64-w64-mingw32
fi

echo "== Windows tests under wine ($target build)"
dir=build/$target
mkdir -p "$dir/test-tmp"
# Rarely (about one test process in a thousand, under load) wine's own process dies with
# SIGSEGV after the test has passed and printed its result; such a test runs once more. A test
# that reported a failure is never run again.
bash scripts/ctest-retry-crashed.sh "$dir" --output-on-failure --no-tests=error -j "$jobs"

# The same call sequence on the Linux library and on the Windows build under wine.
echo "== Equivalence of the Linux library and the $target Windows build"
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVELO_TESTS=ON >/dev/null
cmake --build build/release -j "$jobs" --target tavelo_equivalence
rm -rf build/equivalence
build/release/tests/tavelo_equivalence run build/equivalence/linux
"$wine" "$dir/tests/tavelo_equivalence.exe" run build/equivalence/windows
build/release/tests/tavelo_equivalence compare build/equivalence/linux build/equivalence/windows

# Tavelo.fmu of the Linux build with the 32-bit DLL beside the Linux library.
echo "== Tavelo.fmu with binaries/linux64 and binaries/win32"
cmake -S . -B build/release -DTAVELO_WIN32_DLL="$PWD/build/win32/binaries/win32/Tavelo.dll" \
  >/dev/null
cmake --build build/release -j "$jobs" --target tavelo_fmu
entries=$(cmake -E tar tf build/release/Tavelo.fmu | sort | tr '\n' ' ')
echo "build/release/Tavelo.fmu: $entries"
[ "$entries" = "binaries/linux64/Tavelo.so binaries/win32/Tavelo.dll modelDescription.xml " ]
# The packed DLL carries no debug sections and is still the DLL of the 24 exports.
packed=build/release/fmu-contents
rm -rf "$packed"
mkdir -p "$packed"
(cd "$packed" && cmake -E tar xf ../Tavelo.fmu)
sections=$(i686-w64-mingw32-objdump -h "$packed/binaries/win32/Tavelo.dll")
if grep -E '^ +[0-9]+ \.debug' <<<"$sections"; then
  echo "binaries/win32/Tavelo.dll of build/release/Tavelo.fmu has the debug sections above" >&2
  exit 1
fi
cmake -DLIB="$packed/binaries/win32/Tavelo.dll" -DOBJDUMP=i686-w64-mingw32-objdump \
  -DFORMAT=pei-i386 -P tests/check_dll.cmake
rm -rf "$packed"
