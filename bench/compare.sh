#!/usr/bin/env bash
# Whole-process wall time and peak memory of mek against glibc iconv, and nkf
# and uconv when installed, on the corpora of corpus.py. Each figure is the
# median of 5 runs after one warm-up run.
#
# usage: bench/compare.sh [--mek PATH] [--size 100M] [--corpus DIR] [--runs N] [--results FILE]
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
mek="$here/../build/mek"
size=100M
corpus=""
runs=5
results="$here/RESULTS.md"
while [ $# -gt 0 ]; do
  case "$1" in
    --mek) mek="$2"; shift 2 ;;
    --size) size="$2"; shift 2 ;;
    --corpus) corpus="$2"; shift 2 ;;
    --runs) runs="$2"; shift 2 ;;
    --results) results="$2"; shift 2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
mek="$(cd "$(dirname "$mek")" && pwd)/$(basename "$mek")"
[ -n "$corpus" ] || corpus="$here/corpus/$size"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

for kind in mixed fullwidth; do
  if [ ! -f "$corpus/$kind.utf16le" ]; then
    python3 "$here/corpus.py" --mek "$mek" --size "$size" --out "$corpus" --kinds $kind >/dev/null
  fi
done

# Runs one command line ($1, for sh -c) $runs times after a warm-up; prints
# "median-seconds median-peak-KiB".
measure() {
  local cmd="$1" i
  sh -c "$cmd" >/dev/null 2>&1 || { echo "failed"; return; }
  : >"$work/times"
  for ((i = 0; i < runs; i++)); do
    /usr/bin/time -f '%e %M' -o "$work/one" sh -c "exec $cmd" >/dev/null 2>&1 || { echo "failed"; return; }
    cat "$work/one" >>"$work/times"
  done
  local t m
  t=$(cut -d' ' -f1 "$work/times" | sort -n | sed -n "$(((runs + 1) / 2))p")
  m=$(cut -d' ' -f2 "$work/times" | sort -n | sed -n "$(((runs + 1) / 2))p")
  echo "$t $m"
}

c="$corpus/mixed"
f="$corpus/fullwidth"  # no one-byte katakana, which detection does not take for Shift_JIS
o="$work/out"
have() { command -v "$1" >/dev/null 2>&1; }

# name | mek arguments | iconv from | iconv to | nkf options | uconv from | uconv to | input
rows=(
  "Shift_JIS to UTF-8|-isjis $c.sjis -outf8 $o|CP932|UTF-8|-S -w --cp932|windows-31j|UTF-8|$c.sjis"
  "UTF-8 to Shift_JIS|-iutf8 $c.utf8 -osjis $o|UTF-8|CP932|-W -s --cp932|UTF-8|windows-31j|$c.utf8"
  "EUC-JP to UTF-8|-ieuc_jp $c.euc -outf8 $o|EUC-JP|UTF-8|-E -w|EUC-JP|UTF-8|$c.euc"
  "UTF-8 to EUC-JP|-iutf8 $c.utf8 -oeuc_jp $o|UTF-8|EUC-JP|-W -e|UTF-8|EUC-JP|$c.utf8"
  "ISO-2022-JP to UTF-8|-ijis $c.jis -outf8 $o|ISO-2022-JP-3|UTF-8|-J -w|ISO-2022-JP|UTF-8|$c.jis"
  "UTF-8 to ISO-2022-JP|-iutf8 $c.utf8 -ojis $o|UTF-8|ISO-2022-JP-3|-W -j|UTF-8|ISO-2022-JP|$c.utf8"
  "UTF-8 to UTF-16LE|-iutf8 $c.utf8 -outf16_le $o|UTF-8|UTF-16LE|-W -w16L0|UTF-8|UTF-16LE|$c.utf8"
  "UTF-16LE to UTF-8|-iutf16_le $c.utf16le -outf8 $o|UTF-16LE|UTF-8|-W16L0 -w|UTF-16LE|UTF-8|$c.utf16le"
  "Shift_JIS to UTF-8, -iauto (fullwidth)|-iauto $f.sjis -outf8 $o|CP932|UTF-8|-S -w --cp932|windows-31j|UTF-8|$f.sjis"
)

{
  echo "# mek against its peers"
  echo
  echo "Machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores, $(free -g | awk '/Mem:/{print $2}') GiB;"
  echo "$(uname -sr); $(iconv --version | head -1); $(date -u +%Y-%m-%d)."
  echo "Corpus: mixed, $(stat -c %s "$c.utf8") bytes of UTF-8 (bench/corpus.py). Median of $runs runs after a warm-up."
  echo "Wall time in seconds, peak resident memory in MiB; ratio = mek / iconv."
  echo
  echo "| conversion | mek s | iconv s | ratio | nkf s | uconv s | mek MiB | iconv MiB |"
  echo "|---|---|---|---|---|---|---|---|"
} >"$work/table"

for row in "${rows[@]}"; do
  IFS='|' read -r name args ifrom ito nkfopts ufrom uto input <<<"$row"
  read -r mt mm <<<"$(measure "$mek $args")"
  # mek reports a failed conversion on standard error only; such a run is no
  # measurement.
  if [ -n "$(sh -c "$mek $args" 2>&1 >/dev/null)" ]; then mt=wrong; mm=""; fi
  read -r it im <<<"$(measure "iconv -f $ifrom -t $ito $input -o $o")"
  nt="-"; ut="-"
  if have nkf; then read -r nt _ <<<"$(measure "nkf $nkfopts $input > $o")"; fi
  if have uconv; then read -r ut _ <<<"$(measure "uconv -f $ufrom -t $uto $input -o $o")"; fi
  ratio="-"
  if [ "$mt" != failed ] && [ "$mt" != wrong ] && [ "$it" != failed ]; then
    ratio=$(awk -v a="$mt" -v b="$it" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }')
  fi
  mib() { [ -n "${1:-}" ] && [ "$1" != failed ] && awk -v k="$1" 'BEGIN { printf "%.0f", k / 1024 }' || echo "-"; }
  echo "| $name | $mt | $it | $ratio | $nt | $ut | $(mib "$mm") | $(mib "$im") |" >>"$work/table"
done

cat "$work/table"
# The written analysis (from the first "## " heading on) outlives a new run.
if [ -f "$results" ] && grep -q '^## ' "$results"; then
  { echo; sed -n '/^## /,$p' "$results"; } >>"$work/table"
fi
cp "$work/table" "$results"
