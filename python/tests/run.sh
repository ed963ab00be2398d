#!/usr/bin/env bash
# Runs the Python module's tests: run.sh PYTHON MODULE_DIR MEK SOURCE_DIR.
# Exits 77 (skipped) when pytest or the built module is missing.
set -u
python=$1 module_dir=$2 tool=$3 source_dir=$4
if ! "$python" -c 'import pytest' 2>/dev/null; then
  echo "pytest is missing for $python (apt-get install -y python3-pytest): skipped"
  exit 77
fi
if ! PYTHONPATH="$module_dir" "$python" -c 'import mek._mek' 2>/dev/null; then
  echo "the mek module was not built into $module_dir (pybind11 missing?): skipped"
  exit 77
fi
cd "$source_dir" || exit 1
export PYTHONPATH="$module_dir" MEK_EXECUTABLE="$tool" MEK_SOURCE_DIR="$source_dir"
exec "$python" -m pytest -q -p no:cacheprovider python/tests
