#!/bin/sh
# cvode_linkage.sh itself: a missing argument is named; the header check reads the dependency
# files of the host's targets, so a stale file elsewhere in the build folder (of an object no
# longer built, which named /usr/include's CVODE headers) cannot fail it, while such a file in
# host/ does. The build folder is a copy of the host's dependency files.
# usage: cvode_linkage_checks.sh TAVELO_SIM BUILD_DIR CVODE_CACHE SCRATCH_DIR
set -eu
usage="usage: cvode_linkage_checks.sh TAVELO_SIM BUILD_DIR CVODE_CACHE SCRATCH_DIR"
sim=${1:?no TAVELO_SIM ($usage)}
build=${2:?no BUILD_DIR ($usage)}
cache=${3:?no CVODE_CACHE ($usage)}
scratch=${4:?no SCRATCH_DIR ($usage)}
check=$(dirname "$0")/cvode_linkage.sh
rm -rf "$scratch"
mkdir -p "$scratch"
failed=0
fail() { echo "$*" >&2; failed=1; }

# Each argument left out in turn: the message names it.
for missing in TAVELO_SIM BUILD_DIR CVODE_CACHE; do
  case $missing in
    TAVELO_SIM) set -- ;;
    BUILD_DIR) set -- "$sim" ;;
    CVODE_CACHE) set -- "$sim" "$build" ;;
  esac
  if sh "$check" "$@" >"$scratch/out.txt" 2>&1; then
    fail "cvode_linkage.sh without $missing passed"
  elif ! grep -q "no $missing" "$scratch/out.txt"; then
    fail "cvode_linkage.sh without $missing says: $(cat "$scratch/out.txt")"
  fi
done

# The host's dependency files, as the build wrote them.
copy=$scratch/build
(cd "$build" && find host -name '*.o.d') >"$scratch/depfiles.txt"
[ -s "$scratch/depfiles.txt" ] || { echo "no dependency files in $build/host" >&2; exit 1; }
while IFS= read -r f; do
  mkdir -p "$copy/$(dirname "$f")"
  cp "$build/$f" "$copy/$f"
done <"$scratch/depfiles.txt"
sh "$check" "$sim" "$copy" "$cache" >"$scratch/out.txt" 2>&1 ||
  fail "cvode_linkage.sh fails on a copy of the host's dependency files: $(cat "$scratch/out.txt")"

# A stale file outside host/ that names /usr/include's cvode.h: still passes.
stale=$copy/tests/CMakeFiles/old_target.dir/old_test.cpp.o.d
mkdir -p "$(dirname "$stale")"
printf '%s\n' "tests/CMakeFiles/old_target.dir/old_test.cpp.o: old_test.cpp \\" \
  " /usr/include/cvode/cvode.h /usr/include/sundials/sundials_types.h" >"$stale"
sh "$check" "$sim" "$copy" "$cache" >"$scratch/out.txt" 2>&1 ||
  fail "a stale dependency file outside host/ fails cvode_linkage.sh: $(cat "$scratch/out.txt")"

# The same file among the host's: fails, naming the header.
mv "$stale" "$copy/host/CMakeFiles/old_test.cpp.o.d"
if sh "$check" "$sim" "$copy" "$cache" >"$scratch/out.txt" 2>&1; then
  fail "cvode_linkage.sh passed with /usr/include/cvode/cvode.h in a dependency file of host/"
elif ! grep -q "/usr/include/cvode/cvode.h" "$scratch/out.txt"; then
  fail "cvode_linkage.sh failed without naming /usr/include/cvode/cvode.h: $(cat "$scratch/out.txt")"
fi

[ $failed = 0 ] || exit 1
rm -rf "$scratch"
echo "cvode_linkage.sh names a missing argument and reads host/'s dependency files alone"
