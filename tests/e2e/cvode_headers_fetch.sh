#!/bin/sh
# scripts/cvode-headers.sh fetches the headers of the installed libsundials-cvode6 into a new
# cache (a real download of libsundials-dev's .deb), and a second call downloads nothing: it
# prints the same folder without running apt-get. Nor does a configuration that is given that
# cache (cmake/TaveloCvode.cmake), which takes the headers from it. apt-get, where it would run
# again, is a stand-in that records its call and fails. Exit 77 (skipped) where apt cannot
# download: the package lists lack the installed version, or the network fails.
# usage: cvode_headers_fetch.sh SOURCE_DIR SCRATCH_DIR
set -eu
source=${1:?usage: cvode_headers_fetch.sh SOURCE_DIR SCRATCH_DIR}
scratch=${2:?usage: cvode_headers_fetch.sh SOURCE_DIR SCRATCH_DIR}
script=$source/scripts/cvode-headers.sh
rm -rf "$scratch"
mkdir -p "$scratch"
scratch=$(realpath "$scratch")
failed=0
fail() { echo "$*" >&2; failed=1; }

arch=$(dpkg --print-architecture)
version=$(dpkg-query -W -f='${Version}' "libsundials-cvode6:$arch" 2>/dev/null || true)
[ -n "$version" ] || { echo "libsundials-cvode6 is not installed" >&2; exit 1; }
if ! apt-cache show "libsundials-dev:$arch=$version" >/dev/null 2>&1; then
  rm -rf "$scratch"
  echo "the package lists have no libsundials-dev $version (apt-get update): not checked"
  exit 77
fi

# The first call downloads. Only a network failure (the script's own line after apt's error)
# skips: any other failure to download what the lists have is a fault.
cache=$scratch/cache
if ! first=$(bash "$script" "$cache" 2>"$scratch/first.txt"); then
  case $(tail -n 1 "$scratch/first.txt") in
    *"apt's error above"*)
      echo "apt cannot download libsundials-dev $version here" \
        "($(grep -m 1 '^E:' "$scratch/first.txt" || echo "a network error")): not checked"
      rm -rf "$scratch"
      exit 77 ;;
  esac
  cat "$scratch/first.txt" >&2
  echo "cvode-headers.sh could not fetch libsundials-dev $version into a new cache" >&2
  exit 1
fi
[ "$first" = "$cache/$version/include" ] ||
  fail "the first call printed \"$first\", not $cache/$version/include"
# The headers of the installed release (the runtime's version without its epoch and Debian
# revision).
release=$(printf '%s\n' "$version" | sed -E 's/^[0-9]+://; s/[+~-].*//')
grep -q "^#define SUNDIALS_VERSION \"$release\"" "$first/sundials/sundials_config.h" ||
  fail "the fetched headers are not of SUNDIALS $release:" \
    "$(grep -s '^#define SUNDIALS_VERSION ' "$first/sundials/sundials_config.h" || echo none)"
[ -f "$first/cvode/cvode.h" ] || fail "the fetched headers have no cvode/cvode.h"
[ ! -e "$cache/$version.tmp" ] || fail "the fetch left $cache/$version.tmp behind"

# From here apt-get records its calls and fails.
mkdir -p "$scratch/bin"
cat >"$scratch/bin/apt-get" <<EOF
#!/bin/sh
echo "apt-get \$*" >>"$scratch/apt-calls.txt"
exit 100
EOF
chmod +x "$scratch/bin/apt-get"
no_apt_path=$scratch/bin:$PATH

if second=$(PATH=$no_apt_path bash "$script" "$cache" 2>"$scratch/second.txt"); then
  [ "$second" = "$first" ] || fail "the second call printed \"$second\", the first \"$first\""
else
  cat "$scratch/second.txt" >&2
  fail "the second call failed"
fi
[ ! -e "$scratch/apt-calls.txt" ] ||
  fail "the second call ran $(cat "$scratch/apt-calls.txt"): it would download again"
rm -f "$scratch/apt-calls.txt"

# A configuration given the cache: its CVODE line names the cached headers.
build=$scratch/build
if PATH=$no_apt_path cmake -S "$source" -B "$build" -DTAVELO_TESTS=OFF -DTAVELO_BENCHMARKS=OFF \
    -DTAVELO_CVODE_CACHE="$cache" >"$scratch/cmake.txt" 2>&1; then
  grep -q "headers in $first\$" "$scratch/cmake.txt" || {
    cat "$scratch/cmake.txt" >&2
    fail "the configuration given the cache $cache took CVODE's headers from elsewhere"
  }
else
  cat "$scratch/cmake.txt" >&2
  fail "the configuration given the cache $cache failed"
fi
[ ! -e "$scratch/apt-calls.txt" ] ||
  fail "the configuration ran $(cat "$scratch/apt-calls.txt"): it would download again"

[ $failed = 0 ] || exit 1
rm -rf "$scratch"
echo "cvode-headers.sh fetched libsundials-dev $version once: the second call and a" \
  "configuration found the headers in the cache without apt-get"
