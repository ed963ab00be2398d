#!/usr/bin/env bash
# Checks that the committed code tables in japanese/tables/ are exactly what
# tools/gen_tables.py makes of the mapping files, so the generated sources can
# never drift from their generator.
#
# usage: bash code_tables_generated_test.sh <mek-exe> <source-dir>
# The mapping files are looked for in <source-dir>/../shared/mappings; without
# them the check is skipped.
set -euo pipefail

source_dir=$2
mappings=$source_dir/../shared/mappings

if [[ ! -d $mappings ]]; then
  echo "skipped: no mapping files in $mappings"
  exit 0
fi
if ! command -v python3 >/dev/null; then
  echo "FAIL: python3 is needed to rerun tools/gen_tables.py" >&2
  exit 1
fi

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

python3 "$source_dir/tools/gen_tables.py" "$mappings" "$out/tables"
if ! diff -ru "$source_dir/japanese/tables" "$out/tables" >"$out/diff"; then
  head -n 60 "$out/diff" >&2
  echo "FAIL: japanese/tables/ differs from the generator's output;" \
    "rerun: python3 tools/gen_tables.py <mapping-folder> japanese/tables" >&2
  exit 1
fi
echo "japanese/tables/ matches tools/gen_tables.py output"
