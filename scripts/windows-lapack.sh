#!/usr/bin/env bash
# Reference LAPACK and BLAS for a Windows build: Debian ships none for mingw, so this takes the
# sources of Debian's package lapack (the release the Linux build links) and builds them with
# LAPACK's own CMake and the project's toolchain file: double precision only, static, with the
# deprecated routines the solver calls, no tests.
#
#   windows-lapack.sh TRIPLET TOOLCHAIN_FILE CACHE_DIR
#
# Leaves CACHE_DIR/TRIPLET/lib/liblapack.a and libblas.a. The sources are fetched once into
# CACHE_DIR/src (shared by the targets) and each target is built once; later calls find the
# archives and return at once. The source lists are read through a private apt configuration
# under CACHE_DIR/apt, so the system's own lists stay as they are. Jobs: CMAKE_BUILD_PARALLEL_LEVEL,
# else the number of processors.
set -euo pipefail

triplet=$1
toolchain=$(realpath "$2")
cache=$3
version=3.11.0
debian_version=3.11.0-2

mkdir -p "$cache"
cache=$(realpath "$cache")
prefix=$cache/$triplet
# The archives are rebuilt when this script or the toolchain (flags, compilers) changes.
recipe=$(cat "$0" "$toolchain" "$(dirname "$toolchain")/MinGW.cmake" | sha1sum | cut -c1-12)
stamp=$prefix/built-$debian_version-$recipe
[ -f "$stamp" ] && exit 0

# One builder at a time per cache: two configure runs may ask at once.
exec 9>"$cache/.lock"
flock 9
[ -f "$stamp" ] && exit 0

src=$cache/src/lapack-$version
if [ ! -f "$src/.fetched-$debian_version" ]; then
  command -v dpkg-source >/dev/null || { echo "windows-lapack: dpkg-dev is needed" >&2; exit 1; }
  apt=$cache/apt
  rm -rf "$apt" "$cache/src"
  mkdir -p "$apt/sources.list.d" "$apt/lists/partial" "$apt/cache/archives/partial" "$cache/src"
  # The system's Debian sources, as source lists (deb-src); nothing else is read.
  n=0
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && grep -qi '^URIs:.*debian' "$f" || continue
    n=$((n + 1))
    sed -E 's/^Types:.*/Types: deb-src/' "$f" > "$apt/sources.list.d/$n.sources"
  done
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    n=$((n + 1))
    { grep -E '^deb[[:space:]].*debian' "$f" || true; } | sed -E 's/^deb[[:space:]]/deb-src /' \
      > "$apt/sources.list.d/$n.list"
  done
  opts=(-o "Dir::Etc::SourceList=/dev/null" -o "Dir::Etc::SourceParts=$apt/sources.list.d"
        -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache"
        -o "APT::Sandbox::User=root" -q)
  apt-get "${opts[@]}" update
  (cd "$cache/src" && apt-get "${opts[@]}" source "lapack=$debian_version")
  [ -f "$src/CMakeLists.txt" ] || { echo "windows-lapack: no sources in $src" >&2; exit 1; }
  touch "$src/.fetched-$debian_version"
  rm -rf "$apt"
fi

build=$cache/build-$triplet
rm -rf "$build" "$prefix"
jobs=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc 2>/dev/null || echo 4)}
# Release at -O2 with LAPACK's own Fortran options (-frecursive), as Debian builds it.
cmake -S "$src" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_Fortran_FLAGS_RELEASE=-O2 -DCMAKE_C_FLAGS_RELEASE=-O2 \
  -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_INSTALL_LIBDIR=lib \
  -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTING=OFF -DBUILD_DEPRECATED=ON \
  -DBUILD_SINGLE=OFF -DBUILD_DOUBLE=ON -DBUILD_COMPLEX=OFF -DBUILD_COMPLEX16=OFF \
  -DCBLAS=OFF -DLAPACKE=OFF -DUSE_OPTIMIZED_BLAS=OFF -DUSE_OPTIMIZED_LAPACK=OFF \
  -DTEST_FORTRAN_COMPILER=OFF
cmake --build "$build" --parallel "$jobs"
cmake --install "$build"
rm -rf "$build"
touch "$stamp"
