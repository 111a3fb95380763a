#!/bin/sh
# The main command's packages (scripts/setup-machine.sh simulate), installed on a machine that
# has none yet, bring no MPI, PETSc, hypre or Trilinos and not libsundials-dev, which depends on
# all of them: apt plans the install against an empty package database, so what this machine
# already has does not hide a dependency. Exit 77 (skipped) where apt has no package lists.
# usage: main_command_packages.sh SOURCE_DIR SCRATCH_DIR
set -eu
source=$1
scratch=$2
if ! apt-cache policy cmake 2>/dev/null | grep -q 'Candidate: [0-9]'; then
  echo "apt has no package lists here (apt-get update): not checked"
  exit 77
fi
packages=$(bash "$source/scripts/setup-machine.sh" simulate --print)
mkdir -p "$scratch"
status=$scratch/empty-dpkg-status
: >"$status"
# shellcheck disable=SC2086
if ! apt-get install -s -q --no-install-recommends -o Dir::State::status="$status" \
    $packages >"$scratch/plan.txt" 2>&1; then
  cat "$scratch/plan.txt" >&2
  echo "apt cannot plan the install of the main command's packages" >&2
  exit 1
fi
planned=$(sed -n 's/^Inst \([^ ]*\) .*/\1/p' "$scratch/plan.txt")
rm -f "$status" "$scratch/plan.txt"
[ -n "$planned" ] || { echo "apt planned no install at all" >&2; exit 1; }
unwanted=$(printf '%s\n' "$planned" |
  grep -E '(^|-)(lib)?(openmpi|mpich|mpi)([-.0-9]|$)|petsc|hypre|trilinos|^libsundials-dev$' ||
  true)
if [ -n "$unwanted" ]; then
  echo "the main command's packages ($(echo $packages)) bring:" $unwanted >&2
  exit 1
fi
echo "the main command's $(echo "$planned" | wc -l) packages on a new machine:" \
  "no MPI, PETSc, hypre, Trilinos or libsundials-dev"
