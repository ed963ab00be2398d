#!/usr/bin/env bash
# Checks that tests/vectors/folds.txt, the reference of the text folds, is
# exactly what tools/gen_fold_vectors.py makes of this Python's unicodedata.
#
# usage: bash fold_vectors_generated_test.sh <mek-exe> <source-dir>
# Without python3 the check is skipped (status 77, which CTest reports as
# skipped); the vectors themselves are checked by tests/fold_test.cpp.
set -euo pipefail

source_dir=$2
if ! command -v python3 >/dev/null; then
  echo "skipped: python3 is needed to rerun tools/gen_fold_vectors.py"
  exit 77
fi
out=$(mktemp)
trap 'rm -f "$out"' EXIT
python3 "$source_dir/tools/gen_fold_vectors.py" "$out"
# The first line names the Unicode version of the Python that wrote it.
if ! diff <(tail -n +2 "$source_dir/tests/vectors/folds.txt") <(tail -n +2 "$out") >/dev/null; then
  diff <(tail -n +2 "$source_dir/tests/vectors/folds.txt") <(tail -n +2 "$out") | head -n 40 >&2
  echo "FAIL: tests/vectors/folds.txt differs from the generator's output; rerun:" \
    "python3 tools/gen_fold_vectors.py tests/vectors/folds.txt" >&2
  exit 1
fi
echo "tests/vectors/folds.txt matches tools/gen_fold_vectors.py output"
