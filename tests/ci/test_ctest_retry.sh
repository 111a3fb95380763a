#!/usr/bin/env bash
# The Windows suite's retry: a test whose process died after reporting it passed runs once
# more; a test that reported a failure, even one that would pass the second time, fails the
# run, and so does a test that crashed before reporting.
#
#   test_ctest_retry.sh RETRY_SCRIPT WORK_DIR
set -uo pipefail
retry=$1
work=$2
rm -rf "$work"
mkdir -p "$work"

# A stand-in for a test process: KIND MARKER, where MARKER notes that it ran before.
cat >"$work/fake_test.sh" <<'TEST'
#!/usr/bin/env bash
case $1 in
  pass) echo "[  PASSED  ] 1 test." ;;
  crash_at_exit_once)
    echo "[  PASSED  ] 1 test."
    [ -e "$2" ] || { touch "$2"; exit 139; } ;;
  fail_once)
    [ -e "$2" ] || { touch "$2"; echo "[  FAILED  ] 1 test, listed below:"; exit 1; }
    echo "[  PASSED  ] 1 test." ;;
  crash) exit 139 ;;
esac
TEST

failures=0
# Each case: the kinds of the tests in one run, and the status the run must end with.
check() {
  local expected=$1 name=$2
  shift 2
  local project=$work/$name
  mkdir -p "$project/src"
  {
    echo "cmake_minimum_required(VERSION 3.16)"
    echo "project(fake NONE)"
    echo "enable_testing()"
    for kind in "$@"; do
      echo "add_test(NAME suite.$kind COMMAND bash $work/fake_test.sh $kind $project/ran_$kind)"
    done
  } >"$project/src/CMakeLists.txt"
  cmake -S "$project/src" -B "$project/build" >/dev/null || { failures=1; return; }
  bash "$retry" "$project/build" --output-on-failure -j 2 >"$project/log" 2>&1
  local status=$?
  if [ $((status != 0)) -ne "$expected" ]; then
    echo "FAIL: $name ended with status $status (expected $([ "$expected" = 0 ] && echo 0 || echo nonzero))"
    cat "$project/log"
    failures=1
  fi
}

check 0 all_pass pass
check 0 crash_after_pass pass crash_at_exit_once
check 1 assertion_fails_once pass fail_once
check 1 assertion_fails_once_beside_crash fail_once crash_at_exit_once
check 1 crash_before_report crash
exit $failures
