#!/usr/bin/env bash
# Checks that the committed code tables in japanese/tables/ and the reference
# vectors in tests/data/ are exactly what tools/gen_tables.py makes of the
# mapping files, so the generated files can never drift from their generator.
#
# usage: bash code_tables_generated_test.sh <mek-exe> <source-dir>
# The mapping files are looked for in <source-dir>/../shared/mappings; without
# them the check is skipped (status 77, which CTest reports as skipped).
set -euo pipefail

source_dir=$2
mappings=$source_dir/../shared/mappings

if [[ ! -d $mappings ]]; then
  echo "skipped: no mapping files in $mappings"
  exit 77
fi
if ! command -v python3 >/dev/null; then
  echo "FAIL: python3 is needed to rerun tools/gen_tables.py" >&2
  exit 1
fi

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

python3 "$source_dir/tools/gen_tables.py" "$mappings" "$out/tables" "$out/data"
for pair in "japanese/tables:tables" "tests/data:data"; do
  if ! diff -ru "$source_dir/${pair%%:*}" "$out/${pair##*:}" >"$out/diff"; then
    head -n 60 "$out/diff" >&2
    echo "FAIL: ${pair%%:*}/ differs from the generator's output; rerun:" \
      "python3 tools/gen_tables.py <mapping-folder> japanese/tables tests/data" >&2
    exit 1
  fi
done
echo "japanese/tables/ and tests/data/ match tools/gen_tables.py output"
