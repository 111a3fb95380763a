# Sourced by the build scripts: installs the Debian packages they need. Idempotent; needs root
# for installing. Each caller names its set, so that the caller's own arguments (which a sourced
# script would otherwise see as its $1 and $2) never choose one.
#   . scripts/setup-machine.sh simulate   what building and running the simulation needs: the
#                                         compilers, LAPACK and BLAS, CVODE's runtime library
#                                         (its headers: cmake/TaveloCvode.cmake), libzip,
#                                         pugixml and Python with matplotlib for the picture
#   . scripts/setup-machine.sh full       all of it: also GoogleTest, Google Benchmark, scipy,
#                                         xmllint, valgrind for the unload test, the
#                                         decimal-comma locale the locale tests run under, and
#                                         the Windows build: mingw-w64 compilers for 32 and 64
#                                         bits, dpkg-dev for fetching LAPACK's sources, and wine
#                                         (its 32-bit part from the i386 architecture)
#   bash scripts/setup-machine.sh         the same as full, for a run by hand
#   bash scripts/setup-machine.sh SET --print   prints the packages of SET (simulate or full),
#                                         one a line, and installs nothing
packages=(cmake g++ make binutils pkg-config liblapack-dev libblas-dev libgfortran-12-dev
          python3 python3-numpy python3-matplotlib libsundials-cvode6 libzip-dev libpugixml-dev)
case ${1:-full} in
  simulate) full_set=0 ;;
  full) full_set=1 ;;
  *) echo "setup-machine.sh: unknown package set \"$1\" (simulate or full)" >&2
     return 2 2>/dev/null || exit 2 ;;
esac
if [ $full_set = 1 ]; then
  packages+=(libgtest-dev googletest libbenchmark-dev python3-scipy libxml2-utils locales valgrind
             dpkg-dev g++-mingw-w64-i686 gfortran-mingw-w64-i686 g++-mingw-w64-x86-64
             gfortran-mingw-w64-x86-64 wine wine64 wine32:i386)
fi
if [ "${2:-}" = --print ]; then
  printf '%s\n' "${packages[@]}"
  unset full_set
  return 0 2>/dev/null || exit 0
fi
if [ $full_set = 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
if [ $full_set = 1 ] && ! locale -a 2>/dev/null | grep -qix 'de_DE.utf8'; then
  # localedef exits with 1 when it only warned; whether the locale now exists decides.
  localedef -i de_DE -f UTF-8 de_DE.UTF-8 || true
  if ! locale -a 2>/dev/null | grep -qix 'de_DE.utf8'; then
    echo "error: could not create the locale de_DE.UTF-8 the locale tests need" >&2
    exit 1
  fi
fi
unset full_set
