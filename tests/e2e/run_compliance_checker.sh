#!/bin/sh
# The FMU in the FMU Compliance Checker: simulated for 2 s, its summary must show 0 warnings
# and 0 errors, and the FMU itself may say nothing but "fmiSetString: not supported" (the
# checker calls fmiSetString with no references).
# usage: run_compliance_checker.sh CHECKER_DIR Tavelo.fmu SCRATCH_DIR plain|sanitized
checker=$1/fmuCheck.linux64 fmu=$2 scratch=$3 build=$4
if [ ! -x "$checker" ]; then
  echo "skipped: the compliance checker is not at $1"
  exit 77
fi
if [ "$build" = sanitized ]; then
  echo "skipped: the checker cannot load a library built with the sanitizers (plain build only)"
  exit 77
fi
mkdir -p "$scratch"
work=$(mktemp -d "$scratch/checker-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
"$checker" -k me -s 2 -h 1e-4 -n 0 -l 3 -o out.csv -e check.log "$fmu" > /dev/null 2>&1
status=$?
cat check.log
fail() { echo "error: $1" >&2; exit 1; }
[ $status -eq 0 ] || fail "the checker exited with $status"
grep -qx '	0 Warning(s)' check.log || fail "the checker reported warnings"
grep -qx '	0 Error(s)' check.log || fail "the checker reported errors"
others=$(grep '\[FMU\]' check.log | grep -v '\] fmiSetString: not supported$')
[ -z "$others" ] || fail "the FMU reported more than the fmiSetString warning: $others"
# The run really simulated: rows up to 2 s in the checker's output.
tail -n 1 out.csv | grep -q '^2[,.]' || fail "the checker's output does not reach 2 s"
echo "compliance checker: 0 warnings, 0 errors"
