#!/bin/sh
# tavelo-sim is built against CVODE alone, also on a machine where libsundials-dev is installed:
# it links Debian's runtime libsundials_cvode.so.6 and no other SUNDIALS library, every SUNDIALS
# header the build compiled (as the compiler's dependency files list them) is one that
# cmake/TaveloCvode.cmake unpacked into its cache, none from /usr/include, and --version names
# the release of the installed runtime package.
#
# Debian's gcc links with --as-needed except under -fsanitize: a library that tavelo-sim names
# but does not use is dropped, so the NEEDED check sees extra SUNDIALS libraries (the serial
# vector, dense matrix and dense solver the old find_library calls added) only in the sanitizer
# build, and libsundials-dev's libsundials_cvode.so has the runtime file's soname. The header
# check is what catches a return to the old find_path/find_library in both builds.
# usage: cvode_linkage.sh TAVELO_SIM BUILD_DIR CVODE_CACHE
set -eu
usage="usage: cvode_linkage.sh TAVELO_SIM BUILD_DIR CVODE_CACHE"
sim=${1:?no TAVELO_SIM, the tavelo-sim to check ($usage)}
build=${2:?no BUILD_DIR, the build folder of that tavelo-sim ($usage)}
cache=$(realpath "${3:?no CVODE_CACHE, the folder of the cached CVODE headers ($usage)}")
failed=0
fail() { echo "$*" >&2; failed=1; }

needed=$(readelf -dW "$sim" | sed -n 's/.*(NEEDED).*\[\(libsundials[^]]*\)\].*/\1/p')
[ "$needed" = libsundials_cvode.so.6 ] ||
  fail "tavelo-sim needs the SUNDIALS libraries [$(echo $needed)], not libsundials_cvode.so.6 alone"

# The dependency files of the host's targets alone: elsewhere in the build folder a file of an
# object no longer built may name headers of an older build.
depfiles=$(find "$build/host" -name '*.o.d')
[ -n "$depfiles" ] || { echo "no dependency files (*.o.d) in $build/host" >&2; exit 1; }
# shellcheck disable=SC2086
headers=$(cat $depfiles | tr ' \\' '\n\n' |
  grep -E '/(cvodes?|arkode|idas?|kinsol|sundials|nvector|sunlinsol|sunmatrix|sunnonlinsol|sunmemory)/[^/]+\.h(pp)?$' |
  sort -u)
printf '%s\n' "$headers" | grep -q '/cvode/cvode\.h$' ||
  fail "no object of the build includes cvode/cvode.h (dependency files: $(echo $depfiles))"
foreign=$(printf '%s\n' "$headers" | grep -v "^$cache/" || true)
[ -z "$foreign" ] || fail "SUNDIALS headers from outside $cache:" $foreign
# CVODE stays behind the integrator's interface: no other object of the host sees its headers.
for f in $depfiles; do
  case $f in */integrator.cpp.o.d) continue ;; esac
  if tr ' \\' '\n\n' <"$f" | grep -qE '/(cvode|sundials|nvector|sunlinsol|sunmatrix)/'; then
    fail "$(basename "$f" .o.d) includes CVODE's headers: only the integrator's file may"
  fi
done

# The package of this machine's architecture (installed for i386 as well, an unqualified query
# prints both versions).
runtime=$(dpkg-query -W -f='${Version}' "libsundials-cvode6:$(dpkg --print-architecture)" |
  sed -E 's/^[0-9]+://; s/[+~-].*//')
version=$("$sim" --version)
case $version in
  *"SUNDIALS CVODE $runtime"*) ;;
  *) fail "tavelo-sim --version says \"$version\"; the installed CVODE is $runtime" ;;
esac
[ $failed = 0 ] || exit 1
echo "tavelo-sim links libsundials_cvode.so.6 alone, with $(printf '%s\n' "$headers" | wc -l)" \
  "headers of CVODE $runtime from $cache"
