#!/usr/bin/env bash
# Smoke run of the benchmarks, so that they keep working: builds mek and
# bench/stages into the given build folder, writes a 1 MB corpus into a
# temporary folder, runs stages briefly and compare.sh once over it.
# Without Google Benchmark the stages part is skipped, which fails only in CI
# (when the CI variable is set).
#
# usage: bench/smoke.sh <build-dir>
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
build="${1:?usage: bench/smoke.sh <build-dir>}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

cmake -S "$here/.." -B "$build" -DMEK_BUILD_BENCH=ON -DMEK_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target mek >/dev/null
status=0
if cmake --build "$build" -j2 --target stages >/dev/null 2>&1; then
  python3 "$here/corpus.py" --mek "$build/mek" --size 1M --out "$work/corpus" >/dev/null
  "$build/bench/stages" "$work/corpus" --benchmark_min_time=0.01 >"$work/stages.txt"
  grep -q 'mixed/decode_utf8/convert' "$work/stages.txt" || { echo "stages: no results" >&2; exit 1; }
  echo "stages: $(grep -c bytes_per_second "$work/stages.txt") benchmarks ran"
else
  echo "Google Benchmark is not installed: bench/stages was not built" >&2
  if [ -n "${CI:-}" ]; then status=1; fi
  python3 "$here/corpus.py" --mek "$build/mek" --size 1M --out "$work/corpus" \
    --kinds mixed,fullwidth >/dev/null
fi

"$here/compare.sh" --mek "$build/mek" --corpus "$work/corpus" --runs 1 --big 4M \
  --results "$work/RESULTS.md" >/dev/null
# Every row of both tables needs a time for mek on all cores and on one, and
# for iconv (or the durable copy); a peer that cannot do a conversion (uconv
# and ISO-2022-JP output, say) is only reported.
rows=$(awk -F' *[|] *' '$3 ~ /^[0-9.]+$/ && $4 ~ /^[0-9.]+$/ && $5 ~ /^[0-9.]+$/' "$work/RESULTS.md" | wc -l)
# Every line of the two tables but their heads and rules is a row.
total=$(($(grep -c '^|' "$work/RESULTS.md") - 4))
if [ "$total" -lt 24 ] || [ "$rows" -ne "$total" ]; then
  cat "$work/RESULTS.md" >&2
  echo "compare.sh: a row failed" >&2
  exit 1
fi
echo "compare.sh: $rows rows"
exit "$status"
