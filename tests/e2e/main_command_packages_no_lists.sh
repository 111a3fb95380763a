#!/bin/sh
# main_command_packages.sh where apt has no package lists (the lists folder pointed at an empty
# one, also on a machine where cmake is installed): it skips (77) and says why, as it cannot
# plan an install there.
# usage: main_command_packages_no_lists.sh SOURCE_DIR SCRATCH_DIR
set -eu
source=${1:?usage: main_command_packages_no_lists.sh SOURCE_DIR SCRATCH_DIR}
scratch=${2:?usage: main_command_packages_no_lists.sh SOURCE_DIR SCRATCH_DIR}
rm -rf "$scratch"
mkdir -p "$scratch/lists/partial"
# Cache files in memory: apt must not rebuild the system's own from no lists.
cat >"$scratch/apt.conf" <<CONF
Dir::State::Lists "$scratch/lists/";
Dir::Cache::pkgcache "";
Dir::Cache::srcpkgcache "";
CONF
rc=0
APT_CONFIG=$scratch/apt.conf sh "$source/tests/e2e/main_command_packages.sh" "$source" \
  "$scratch/run" >"$scratch/out.txt" 2>&1 || rc=$?
if [ $rc != 77 ] || ! grep -q 'apt has no package lists here' "$scratch/out.txt"; then
  cat "$scratch/out.txt" >&2
  echo "without package lists main_command_packages.sh exited with $rc, not 77 (skipped)" >&2
  exit 1
fi
rm -rf "$scratch"
cmake_state="not installed"
dpkg-query -W -f='${Status}' cmake 2>/dev/null | grep -q 'install ok installed' &&
  cmake_state=installed
echo "without package lists main_command_packages.sh skips (cmake is $cmake_state here)"
