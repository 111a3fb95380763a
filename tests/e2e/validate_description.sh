#!/bin/sh
# Validates the generated model description against the FMI 1.0 schema, and shows that the
# validation can fail: the same description with an Integer start written as "3.0" is refused.
# usage: validate_description.sh SCHEMA_DIR modelDescription.xml SCRATCH_DIR
schema_dir=$1 description=$2 scratch=$3
if [ ! -f "$schema_dir/fmiModelDescription.xsd" ]; then
  echo "skipped: the FMI 1.0 schema is not at $schema_dir"
  exit 77
fi
set -e
xmllint --noout --schema "$schema_dir/fmiModelDescription.xsd" "$description"
mkdir -p "$scratch"
broken=$(mktemp "$scratch/broken-description-XXXXXX.xml")
trap 'rm -f "$broken"' EXIT
sed '0,/<Integer/s/<Integer/<Integer start="3.0"/' "$description" > "$broken"
if grep -q '<Integer start="3.0"' "$broken" &&
   ! xmllint --noout --schema "$schema_dir/fmiModelDescription.xsd" "$broken" 2>/dev/null; then
  echo "a description with an Integer start of 3.0 is refused, as it must be"
else
  echo "error: a description with an Integer start of 3.0 passed the schema" >&2
  exit 1
fi
