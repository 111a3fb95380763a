#!/bin/sh
# The main command's packages (scripts/setup-machine.sh simulate), installed on a machine that
# has none yet, bring no MPI, PETSc, hypre or Trilinos and not libsundials-dev, which depends on
# all of them: apt plans the install against an empty package database, so what this machine
# already has does not hide a dependency. Exit 77 (skipped) where apt has no package lists.
# usage: main_command_packages.sh SOURCE_DIR SCRATCH_DIR
set -eu
source=${1:?usage: main_command_packages.sh SOURCE_DIR SCRATCH_DIR}
scratch=${2:?usage: main_command_packages.sh SOURCE_DIR SCRATCH_DIR}
mkdir -p "$scratch"
status=$scratch/empty-dpkg-status
: >"$status"
# Every apt call plans against the empty database. The cache files are built in memory: as
# root, apt would otherwise rewrite the system's own for this database.
empty="-o Dir::State::status=$status -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache="
# With the empty database a candidate can only come from the package lists (with the system's
# database, an installed cmake would show one from /var/lib/dpkg/status).
# shellcheck disable=SC2086
if ! apt-cache $empty policy cmake 2>/dev/null | grep -q 'Candidate: [0-9]'; then
  rm -f "$status"
  echo "apt has no package lists here (apt-get update): not checked"
  exit 77
fi
packages=$(bash "$source/scripts/setup-machine.sh" simulate --print)
# shellcheck disable=SC2086
if ! apt-get install -s -q --no-install-recommends $empty $packages >"$scratch/plan.txt" 2>&1
then
  cat "$scratch/plan.txt" >&2
  echo "apt cannot plan the install of the main command's packages" >&2
  exit 1
fi
planned=$(sed -n 's/^Inst \([^ ]*\) .*/\1/p' "$scratch/plan.txt")
rm -f "$scratch/plan.txt"
[ -n "$planned" ] || { echo "apt planned no install at all" >&2; exit 1; }
unwanted=$(printf '%s\n' "$planned" |
  grep -E '(^|-)(lib)?(openmpi|mpich|mpi)([-.0-9]|$)|petsc|hypre|trilinos|^libsundials-dev$' ||
  true)
if [ -n "$unwanted" ]; then
  echo "the main command's packages ($(echo $packages)) bring:" $unwanted >&2
  exit 1
fi
rm -f "$status"
echo "the main command's $(echo "$planned" | wc -l) packages on a new machine:" \
  "no MPI, PETSc, hypre, Trilinos or libsundials-dev"
