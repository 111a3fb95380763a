#!/bin/sh
# The unload test: tavelo_unload_cycles (load, use and unload the library three times, then
# once more up to process exit) under valgrind, which must find no definitely or indirectly
# lost block and no other memory error. No suppressions, not even valgrind's default ones.
# usage: run_unload_cycles.sh VALGRIND CHILD LIBRARY SCRATCH_DIR clean|leak|sanitized
#   clean      valgrind must pass the run
#   leak       the child drops a block of 72,704 bytes; valgrind must fail the run for it
#   sanitized  a build with the sanitizers, which valgrind cannot run: skipped (exit 77)
valgrind=$1 child=$2 library=$3 scratch=$4 mode=$5
if [ "$mode" = sanitized ]; then
  echo "skipped: valgrind cannot run a program built with the sanitizers (plain build only)"
  exit 77
fi
if [ ! -x "$valgrind" ]; then
  echo "error: valgrind is missing ('$valgrind'): install the Debian package valgrind" \
       "(scripts/setup-machine.sh does)" >&2
  exit 1
fi
mkdir -p "$scratch" && cd "$scratch" || exit 1
log=valgrind-$mode.log
extra=
[ "$mode" = leak ] && extra=leak
# 99: valgrind found an error; any other failure is the child's own exit status.
"$valgrind" --error-exitcode=99 --leak-check=full --show-leak-kinds=definite,indirect \
  --errors-for-leak-kinds=definite,indirect --default-suppressions=no --keep-debuginfo=yes \
  --num-callers=30 --log-file="$log" "$child" "$library" $extra
status=$?
case $mode in
  clean)
    if [ $status -ne 0 ]; then
      cat "$log"
      echo "error: exit status $status (99: valgrind found lost blocks or memory errors)" >&2
      exit 1
    fi
    grep 'ERROR SUMMARY' "$log"
    ;;
  leak)
    if [ $status -ne 99 ] || ! grep -q '72,704 bytes in 1 blocks are definitely lost' "$log"; then
      cat "$log"
      echo "error: the dropped block of 72,704 bytes did not fail the run (status $status)" >&2
      exit 1
    fi
    echo "the dropped block failed the run, as it must"
    ;;
  *)
    echo "usage: run_unload_cycles.sh VALGRIND CHILD LIBRARY SCRATCH_DIR clean|leak|sanitized" >&2
    exit 2
    ;;
esac
