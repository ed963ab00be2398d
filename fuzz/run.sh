#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each one for a bounded time from the
# committed seed corpora. Fails when any target reports a finding; the input
# that caused it is kept in fuzz/artifacts/.
#
# usage: fuzz/run.sh [seconds-per-target] [target...]
#   MEK_FUZZ_BUILD   build folder (default build-fuzz)
#   MEK_FUZZ_JOBS    targets run at once (default: the processors)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-8}
shift || true
build=${MEK_FUZZ_BUILD:-build-fuzz}

# Line tables only: a crash's stack still names every line, and the build
# takes less time than with full debug information.
cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" \
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
# Runs one target; its line of the table goes to $build/fuzz/TARGET.result.
run_target() {
  local target=$1 work="$build/fuzz/work/$1" log="$build/fuzz/$1.log" status=0 runs result
  local -a seeds
  mkdir -p "$work"
  mapfile -t seeds < <(seeds_for "$target")
  "$build/fuzz/$target" -max_total_time="$seconds" -max_len=2048 -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="fuzz/artifacts/$target-" \
    "$work" "${seeds[@]}" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  if [ "$status" -eq 0 ]; then
    result=ok
    grep -q 'every input is skipped' "$log" && result="ok (no converter yet)"
  else
    result="FAILED ($status)"
  fi
  printf '%-24s %12s %8s\n' "$target" "${runs:-?}" "$result" >"$build/fuzz/$target.result"
}

# As many targets at once as there are processors (MEK_FUZZ_JOBS to choose).
jobs=${MEK_FUZZ_JOBS:-$(nproc)}
running=0
for target in "${targets[@]}"; do
  rm -f "$build/fuzz/$target.result"
  run_target "$target" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n || true
    running=$((running - 1))
  fi
done
wait

failed=()
printf '%-24s %12s %8s\n' target executions result
for target in "${targets[@]}"; do
  line=$(cat "$build/fuzz/$target.result" 2>/dev/null || printf '%-24s %12s %8s' "$target" '?' 'FAILED (no result)')
  echo "$line"
  case "$line" in *FAILED*) failed+=("$target") ;; esac
done

if [ ${#failed[@]} -gt 0 ]; then
  for target in "${failed[@]}"; do
    echo "== $target"
    grep -E -A30 'ERROR|check failed|runtime error|SUMMARY' "$build/fuzz/$target.log" | head -60
  done
  echo "fuzzing found problems in: ${failed[*]} (inputs in fuzz/artifacts/)"
  exit 1
fi
