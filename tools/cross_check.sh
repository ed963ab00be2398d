#!/usr/bin/env bash
# Builds the tool for arm64 with the Debian cross compiler and checks, under
# qemu-user, that it converts exactly as the native build does: every input of
# a small corpus into every output code and line ending (and once more in
# pieces of 7 bytes), comparing the output bytes, the messages and the status.
#
# usage: tools/cross_check.sh <native-mek> <build-dir>
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
native="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
build="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_SYSTEM_NAME=Linux \
  -DCMAKE_SYSTEM_PROCESSOR=aarch64 -DCMAKE_CXX_COMPILER=aarch64-linux-gnu-g++ \
  -DMEK_BUILD_TESTS=OFF -DMEK_WERROR=ON >/dev/null
cmake --build "$build" -j2 --target mek >/dev/null
arm=(qemu-aarch64 -L /usr/aarch64-linux-gnu "$build/mek")
"${arm[@]}" --version >/dev/null

# The inputs: the examples, and a mixed corpus in every code with a broken
# byte planted in one copy.
python3 "$here/bench/corpus.py" --mek "$native" --size 64K --out "$work/corpus" --kinds mixed \
  >/dev/null
inputs=("$here"/examples/*.txt "$work"/corpus/mixed.*)
head -c 5000 "$work/corpus/mixed.utf8" >"$work/broken.utf8"
printf '\xff' >>"$work/broken.utf8"
cat "$work/corpus/mixed.utf8" >>"$work/broken.utf8"
inputs+=("$work/broken.utf8")

codes=(sjis euc_jp jis utf8 utf16_be utf16_le utf16_be_bom utf16_le_bom utf32_be utf32_le
  utf32_be_bom utf32_le_bom cp932 utf8_bom sjis2004 eucjis2004 iso2022jp2004 eucjpms cp51932)
runs=0
failed=0
check() {  # $1: environment setting, rest: arguments
  local setting="$1"
  shift
  local a=0 b=0
  env $setting "$native" "$@" >"$work/x86.out" 2>"$work/x86.err" || a=$?
  env $setting "${arm[@]}" "$@" >"$work/arm.out" 2>"$work/arm.err" || b=$?
  runs=$((runs + 1))
  if [ $a != $b ] || ! cmp -s "$work/x86.out" "$work/arm.out" ||
    ! cmp -s "$work/x86.err" "$work/arm.err"; then
    echo "FAIL: $setting mek $*: status $a against $b" >&2
    failed=1
  fi
}
for input in "${inputs[@]}"; do
  for code in "${codes[@]}"; do
    for ending in -unix -win -mac; do
      check "MEK_WORKERS=1" "$input" -o"$code" $ending
    done
    check "MEK_PIECE_SIZE=7" "$input" -o"$code" --fallback
  done
done
echo "arm64 under qemu: $runs conversions compared with the native build"
exit $failed
