#!/bin/sh
# scripts/setup-machine.sh is sourced, so without arguments of its own it would see its
# caller's (run-benchmarks.sh passes Google Benchmark's options on): every script that sources
# it names its set, an unknown set is refused with a message, and the sets are what they say.
# usage: setup_machine_sets.sh SOURCE_DIR
set -eu
source=${1:?usage: setup_machine_sets.sh SOURCE_DIR}
setup=$source/scripts/setup-machine.sh
failed=0
fail() { echo "$*" >&2; failed=1; }

# The callers' lines that source it, and the set each names.
for caller in run-tests.sh run-benchmarks.sh run-windows-tests.sh simulate.sh; do
  lines=$(grep -E '^[[:space:]]*(\.|source)[[:space:]].*setup-machine\.sh' \
    "$source/scripts/$caller" || true)
  [ -n "$lines" ] || { fail "scripts/$caller does not source scripts/setup-machine.sh"; continue; }
  printf '%s\n' "$lines" | while IFS= read -r line; do
    set_name=$(printf '%s\n' "$line" | sed -E 's/.*setup-machine\.sh"?[[:space:]]*//')
    case $set_name in
      simulate | full) ;;
      *) echo "scripts/$caller sources setup-machine.sh without a set of its own" \
              "(\"$line\"): its own arguments would choose one" >&2
         exit 1 ;;
    esac
  done || failed=1
done

# An unknown set, such as a caller's own option, is refused and named.
if out=$(bash "$setup" --benchmark_filter=Row --print 2>&1); then
  fail "setup-machine.sh took the set \"--benchmark_filter=Row\" and printed: $(echo $out)"
else
  case $out in
    *'unknown package set "--benchmark_filter=Row"'*) ;;
    *) fail "setup-machine.sh refused an unknown set with: $out" ;;
  esac
fi

# full is the set without arguments; simulate is a part of it without the test tools.
full=$(bash "$setup" full --print)
[ "$(bash "$setup" "" --print)" = "$full" ] ||
  fail "setup-machine.sh without a set prints another set than full"
simulate=$(bash "$setup" simulate --print)
for p in $simulate; do
  printf '%s\n' "$full" | grep -qx -- "$p" || fail "simulate's $p is not in full"
done
for p in libgtest-dev libbenchmark-dev valgrind wine32:i386; do
  printf '%s\n' "$full" | grep -qx -- "$p" || fail "full lacks $p"
  printf '%s\n' "$simulate" | grep -qx -- "$p" && fail "simulate has $p"
done
# Sourced by a shell that has arguments of its own, with its set named.
sourced=$(bash -c '. "$0" full --print' "$setup" --benchmark_filter=Row --print)
[ "$sourced" = "$full" ] || fail "sourced with \"full --print\" by a shell with arguments," \
  "setup-machine.sh printed another set than full"
[ $failed = 0 ] || exit 1
echo "the four callers name their sets; unknown sets are refused; simulate is a part of full"
