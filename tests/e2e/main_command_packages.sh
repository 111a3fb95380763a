#!/bin/sh
# The main command's packages (scripts/setup-machine.sh simulate), installed on a machine that
# has none yet, bring no MPI, PETSc, hypre or Trilinos and not libsundials-dev, which depends on
# all of them: apt plans the install against an empty package database, so what this machine
# already has does not hide a dependency. And the main command downloads at most 200 MB on a new
# Debian machine: the .debs of that plan, less those of the base system a new machine already
# has (debootstrap's packages of priority required and important, and what they depend on).
# Exit 77 (skipped) where apt has no package lists.
# usage: main_command_packages.sh SOURCE_DIR SCRATCH_DIR
set -eu
source=${1:?usage: main_command_packages.sh SOURCE_DIR SCRATCH_DIR}
scratch=${2:?usage: main_command_packages.sh SOURCE_DIR SCRATCH_DIR}
limit_mb=200
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

# The base system of a new machine, planned like the main command's packages.
arch=$(dpkg --print-architecture)
# shellcheck disable=SC2086
base_packages=$(apt-cache $empty dumpavail | awk -v arch="$arch" '
  /^Package:/ { p = $2 } /^Architecture:/ { a = $2 } /^Priority:/ { r = $2 }
  /^$/ { if ((r == "required" || r == "important") && (a == arch || a == "all")) print p
         p = a = r = "" }' | sort -u)
[ -n "$base_packages" ] || { echo "the package lists name no required package" >&2; exit 1; }
# shellcheck disable=SC2086
apt-get install -s -q --no-install-recommends $empty $base_packages >"$scratch/base.txt" 2>&1 || {
  cat "$scratch/base.txt" >&2; echo "apt cannot plan the install of the base system" >&2; exit 1; }
sed -n 's/^Inst \([^ ]*\) .*/\1/p' "$scratch/base.txt" >"$scratch/base-planned.txt"
# Each .deb of the plan with its size in bytes; an empty archive folder, so that .debs this
# machine keeps in /var/cache/apt/archives are counted as well.
mkdir -p "$scratch/archives/partial"
# shellcheck disable=SC2086
apt-get install --print-uris -qq --no-install-recommends $empty \
  -o Dir::Cache::Archives="$scratch/archives/" $packages >"$scratch/uris.txt" 2>&1 || {
  cat "$scratch/uris.txt" >&2; echo "apt cannot list the main command's downloads" >&2; exit 1; }
download=$(awk 'NR == FNR { base[$1] = 1; next }
  { name = $2; sub(/_.*/, "", name); if (!(name in base)) { n++; bytes += $3 } }
  END { printf "%d %d\n", n, bytes }' "$scratch/base-planned.txt" "$scratch/uris.txt")
rm -rf "$status" "$scratch/base.txt" "$scratch/base-planned.txt" "$scratch/uris.txt" \
  "$scratch/archives"
count=${download% *}
bytes=${download#* }
mb=$(awk -v b="$bytes" 'BEGIN { printf "%.1f", b / 1e6 }')
[ "$count" -gt 0 ] || { echo "apt lists no download for the main command" >&2; exit 1; }
if [ "$bytes" -gt $((limit_mb * 1000000)) ]; then
  echo "the main command downloads $mb MB ($count packages) on a new machine," \
    "more than $limit_mb MB" >&2
  exit 1
fi
echo "the main command's $(echo "$planned" | wc -l) packages on a new machine:" \
  "no MPI, PETSc, hypre, Trilinos or libsundials-dev; $count of them not in the base system," \
  "a download of $mb MB (at most $limit_mb MB)"
