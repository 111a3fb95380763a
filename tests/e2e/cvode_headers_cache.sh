#!/bin/sh
# scripts/cvode-headers.sh and cmake/TaveloCvode.cmake in the cases a first build can meet:
# libsundials-cvode6 installed for two architectures (it is Multi-Arch: same), a cache folder
# that cannot be made or one that cannot be written (the configuration fails naming it and how
# to choose another), a download that fails for the network (apt's error stands, no upgrade is
# suggested) or for a version the package lists lack. A failed attempt leaves no VERSION.tmp.
# Where the package database matters the test gives dpkg one of its own (DPKG_ADMINDIR).
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
    "Architecture: $a" "Multi-Arch: same" "Version: 1.2.3-4" "Maintainer: Tavelo" \
    "Description: CVODE" ""
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

# A cache folder that cannot be made (below a file) or written (/proc takes no new file, also
# for root): the configuration fails, naming the folder and how to choose another.
: >"$scratch/a-file"
for cache in "$scratch/a-file/tavelo-cvode" /proc; do
  build=$scratch/build
  rm -rf "$build"
  if DPKG_ADMINDIR=$admin cmake -S "$source" -B "$build" -DTAVELO_TESTS=OFF \
      -DTAVELO_BENCHMARKS=OFF -DTAVELO_CVODE_CACHE="$cache" >"$scratch/cmake.txt" 2>&1; then
    fail "the configuration with the cache folder $cache succeeded"
    continue
  fi
  # CMake wraps its messages at spaces: the message on one line.
  message=$(sed -n '/^CMake Error/,/^Call Stack/p' "$scratch/cmake.txt" | tr -s ' \n' '  ')
  for part in " $cache, " "-DTAVELO_CVODE_CACHE=DIR" "XDG_CACHE_HOME"; do
    case $message in
      *"$part"*) ;;
      *) cat "$scratch/cmake.txt" >&2
         fail "the configuration's error for the cache folder $cache does not say \"$part\""
         break ;;
    esac
  done
done
rm -rf "$scratch/build"

# A download the network refuses (a proxy that refuses every connection), of the installed
# version, which the package lists have.
version=$(dpkg-query -W -f='${Version}' "libsundials-cvode6:$arch" 2>/dev/null || true)
cat >"$scratch/apt-offline.conf" <<CONF
Acquire::http::Proxy "http://127.0.0.1:9/";
Acquire::https::Proxy "http://127.0.0.1:9/";
Acquire::Retries "0";
CONF
if [ -n "$version" ] && apt-cache show "libsundials-dev:$arch=$version" >/dev/null 2>&1; then
  cache=$scratch/cache-offline
  if APT_CONFIG=$scratch/apt-offline.conf bash "$script" "$cache" >/dev/null \
      2>"$scratch/err.txt"; then
    fail "cvode-headers.sh downloaded through a proxy that refuses every connection"
  else
    grep -q 'Could not connect' "$scratch/err.txt" ||
      fail "apt's own error is missing from cvode-headers.sh's: $(cat "$scratch/err.txt")"
    last=$(tail -n 1 "$scratch/err.txt")
    case $last in
      *upgrade* | *"apt-get update"*) fail "after a network error cvode-headers.sh says: $last" ;;
      *"apt's error above"*) ;;
      *) fail "after a network error cvode-headers.sh ends with: $last" ;;
    esac
  fi
  [ ! -e "$cache/$version.tmp" ] || fail "a failed download left $cache/$version.tmp"
else
  echo "no libsundials-dev $version in the package lists: the network error not checked"
fi

# A version the package lists lack: apt-get update or an upgrade may help.
cache=$scratch/cache-unknown
if DPKG_ADMINDIR=$admin bash "$script" "$cache" >/dev/null 2>"$scratch/err.txt"; then
  fail "cvode-headers.sh found headers of libsundials-cvode6 1.2.3-4"
else
  tail -n 1 "$scratch/err.txt" | grep -q 'apt-get update, or upgrade' ||
    fail "for a version the lists lack cvode-headers.sh says: $(cat "$scratch/err.txt")"
fi
[ ! -e "$cache/1.2.3-4.tmp" ] || fail "a failed download left $cache/1.2.3-4.tmp"

[ $failed = 0 ] || exit 1
rm -rf "$scratch"
echo "cvode-headers.sh: two architectures, a cache that cannot be made or written, a network" \
  "error and an unknown version handled, nothing left behind"
