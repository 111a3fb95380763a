#!/bin/sh
# scripts/cvode-headers.sh with libsundials-cvode6 installed for two architectures (it is
# Multi-Arch: same): the headers of the one of this machine's architecture. The test gives dpkg
# a package database of its own (DPKG_ADMINDIR).
# usage: cvode_headers_cache.sh SOURCE_DIR SCRATCH_DIR
set -eu
source=${1:?usage: cvode_headers_cache.sh SOURCE_DIR SCRATCH_DIR}
scratch=${2:?usage: cvode_headers_cache.sh SOURCE_DIR SCRATCH_DIR}
script=$source/scripts/cvode-headers.sh
rm -rf "$scratch"
mkdir -p "$scratch"
scratch=$(realpath "$scratch")
failed=0
fail() { echo "$*" >&2; failed=1; }

# A dpkg database with libsundials-cvode6 1.2.3-4 installed for this machine's architecture
# and another one.
arch=$(dpkg --print-architecture)
other=i386
[ "$arch" != i386 ] || other=amd64
admin=$scratch/dpkg
mkdir -p "$admin/updates" "$admin/info"
for a in "$arch" "$other"; do
  printf '%s\n' "Package: libsundials-cvode6" "Status: install ok installed" \
    "Architecture: $a" "Multi-Arch: same" "Version: 1.2.3-4" "Description: CVODE" ""
done >"$admin/status"

# Both architectures installed: the headers of 1.2.3-4 are found in the cache.
cache=$scratch/cache-multiarch
mkdir -p "$cache/1.2.3-4/include/cvode"
: >"$cache/1.2.3-4/include/cvode/cvode.h"
: >"$cache/1.2.3-4/.unpacked"
if out=$(DPKG_ADMINDIR=$admin bash "$script" "$cache" 2>"$scratch/err.txt"); then
  [ "$out" = "$cache/1.2.3-4/include" ] ||
    fail "with libsundials-cvode6 for $arch and $other, cvode-headers.sh printed \"$out\""
else
  cat "$scratch/err.txt" >&2
  fail "with libsundials-cvode6 for $arch and $other, cvode-headers.sh failed"
fi

[ $failed = 0 ] || exit 1
rm -rf "$scratch"
echo "cvode-headers.sh: the headers of libsundials-cvode6 for $arch, also installed for $other"
