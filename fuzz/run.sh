#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each one for a bounded time from the
# committed seed corpora. Fails when any target reports a finding; the input
# that caused it is kept in fuzz/artifacts/.
#
# usage: fuzz/run.sh [seconds-per-target] [target...]
#   MEK_FUZZ_BUILD   build folder (default build-fuzz)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-8}
shift || true
build=${MEK_FUZZ_BUILD:-build-fuzz}

cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMEK_BUILD_FUZZ=ON -DMEK_BUILD_TESTS=OFF -DMEK_WERROR=ON -DMEK_CHECKED=ON >/dev/null
cmake --build "$build" -j2 --target fuzzers

if [ $# -gt 0 ]; then
  targets=("$@")
else
  mapfile -t targets <"$build/fuzz/fuzzers.txt"
fi

# Seed folders for a target (read only; new inputs go to a working folder).
seeds_for() {
  case "$1" in
    decode_*) echo "fuzz/corpus/$1" ;;
    encode_* | line_ending_*) echo "fuzz/corpus/internal" ;;
    detect) ls -d fuzz/corpus/decode_* ;;
    stream | cpp_layer) echo "fuzz/corpus/convert_in_memory" ;;
    *) [ -d "fuzz/corpus/$1" ] && echo "fuzz/corpus/$1" || true ;;
  esac
}

mkdir -p fuzz/artifacts
failed=()
printf '%-24s %12s %8s\n' target executions result
for target in "${targets[@]}"; do
  work="$build/fuzz/work/$target"
  mkdir -p "$work"
  log="$build/fuzz/$target.log"
  mapfile -t seeds < <(seeds_for "$target")
  status=0
  "$build/fuzz/$target" -max_total_time="$seconds" -max_len=2048 -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="fuzz/artifacts/$target-" \
    "$work" "${seeds[@]}" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  if [ "$status" -eq 0 ]; then
    result=ok
    grep -q 'every input is skipped' "$log" && result="ok (no converter yet)"
  else
    result="FAILED ($status)"
    failed+=("$target")
  fi
  printf '%-24s %12s %8s\n' "$target" "${runs:-?}" "$result"
done

if [ ${#failed[@]} -gt 0 ]; then
  for target in "${failed[@]}"; do
    echo "== $target"
    grep -E -A30 'ERROR|check failed|runtime error|SUMMARY' "$build/fuzz/$target.log" | head -60
  done
  echo "fuzzing found problems in: ${failed[*]} (inputs in fuzz/artifacts/)"
  exit 1
fi
