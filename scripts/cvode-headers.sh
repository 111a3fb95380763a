#!/usr/bin/env bash
# CVODE's headers for tavelo-sim without libsundials-dev, which would install every SUNDIALS
# solver and its parallel back ends (MPI, PETSc, hypre). The library is Debian's runtime package
# libsundials-cvode6 (its libsundials_cvode.so.6 carries the serial vector and the dense matrix
# and linear solver as well); the headers come from Debian's libsundials-dev of exactly the
# installed version, whose .deb is downloaded and unpacked here, not installed.
#
#   cvode-headers.sh CACHE_DIR
#
# Prints the include directory, CACHE_DIR/VERSION/include (VERSION: the installed package's
# Debian version). The .deb is fetched once per version; later calls find the headers and only
# print their directory (a cache that cannot be written serves them too). The download reads
# the system's package lists. Exit status 2: the cache folder cannot be made or written.
set -euo pipefail

cache=${1:?usage: cvode-headers.sh CACHE_DIR}
arch=$(dpkg --print-architecture)
# The package of this machine's architecture: it is Multi-Arch: same, and installed for i386 as
# well, an unqualified query would print both versions run together.
package=libsundials-cvode6:$arch
headers=libsundials-dev:$arch

version=$(dpkg-query -W -f='${Version}' "$package" 2>/dev/null || true)
if [ -z "$version" ] ||
   ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"
then
  echo "cvode-headers: $package is not installed (scripts/setup-machine.sh installs it)" >&2
  exit 1
fi

cache_error() {
  echo "cvode-headers: the cache folder $cache cannot be made or written: $*" >&2
  exit 2
}
error=$(mkdir -p "$cache" 2>&1) || cache_error "$error"
cache=$(realpath "$cache")
include=$cache/$version/include
stamp=$cache/$version/.unpacked
if [ ! -f "$stamp" ]; then
  error=$(touch "$cache/.lock" 2>&1) || cache_error "$error"
  # One fetch at a time per cache: two configure runs may ask at once.
  exec 9>"$cache/.lock"
  flock 9
  if [ ! -f "$stamp" ]; then
    work=$cache/$version.tmp
    # A failed attempt leaves nothing behind.
    trap 'rm -rf "$work"' EXIT
    rm -rf "$work" "$cache/$version"
    error=$(mkdir -p "$work" 2>&1) || cache_error "$error"
    # As root, apt would hand the download to its sandbox user, who cannot write here.
    # apt's messages go to the standard error stream as they come, and to apt.log for a look
    # at its error.
    if ! (cd "$work" && apt-get -q -o APT::Sandbox::User=root download "$headers=$version") \
        2>&1 | tee "$work/apt.log" >&2
    then
      network='could not (resolve|connect)|temporary failure resolving|unable to connect'
      network+='|connection (refused|timed out|failed|reset)|network is unreachable'
      network+='|no route to host|could not handshake'
      if grep -qiE "$network" "$work/apt.log"; then
        # The network failed: apt's message above says how; there is nothing to upgrade.
        echo "cvode-headers: could not download $headers $version (apt's error above)" >&2
      else
        echo "cvode-headers: could not download $headers $version, the headers of the" \
             "installed $package (apt-get update, or upgrade $package)" >&2
      fi
      exit 1
    fi
    dpkg-deb -x "$work"/libsundials-dev_*.deb "$work/root"
    [ -f "$work/root/usr/include/cvode/cvode.h" ] || {
      echo "cvode-headers: $headers $version has no cvode/cvode.h" >&2; exit 1; }
    mkdir -p "$cache/$version"
    mv "$work/root/usr/include" "$include"
    rm -rf "$work"
    touch "$stamp"
  fi
fi
echo "$include"
