#!/usr/bin/env bash
# Runs ctest in the build directory DIR (further arguments go to ctest) and runs a failed test
# once more only when its process died after GoogleTest had reported it passed: wine's own
# process rarely crashes at exit under load. A test that reported a failure, or never got to
# report at all (a crash inside the test, a timeout), fails the run at once.
#
#   ctest-retry-crashed.sh DIR [CTEST_ARGS...]
set -uo pipefail
dir=$1
shift
cd "$dir" || exit 1

ctest "$@" && exit 0
failed_list=Testing/Temporary/LastTestsFailed.log
[ -s "$failed_list" ] || { echo "ctest failed, and no failed test is listed" >&2; exit 1; }

# The captured output of test NAME in the last run's log.
test_output() {
  awk -v name="$1" '
    $0 ~ /^[0-9]+\/[0-9]+ Test: / { current = substr($0, index($0, "Test: ") + 6); next }
    current == name && /^Output:$/ { inside = 1; getline; next }
    inside && /^<end of output>$/ { exit }
    inside { print }
  ' Testing/Temporary/LastTest.log
}

status=0
while IFS= read -r entry; do
  name=${entry#*:}
  output=$(test_output "$name")
  if grep -q '^\[  PASSED  \] ' <<<"$output" && ! grep -q '^\[  FAILED  \] ' <<<"$output"; then
    echo "== $name passed but its process failed at exit: once more"
  else
    echo "== $name failed: not run again" >&2
    status=1
  fi
done <"$failed_list"
[ "$status" -eq 0 ] || exit 1
ctest "$@" --rerun-failed
