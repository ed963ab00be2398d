#!/usr/bin/env bash
# Whole-process wall time and peak memory of mek against glibc iconv, and nkf
# and uconv when installed, on the corpora of corpus.py, in two forms:
#  - to standard output redirected to a file, where no tool flushes to disk,
#    beside the floor of copying the same bytes: the slower of `cat in > out`
#    and `dd bs=1M`; mek with all cores and with one (MEK_WORKERS=0);
#  - to a named file, which mek flushes to disk before it replaces it, beside
#    `dd bs=1M conv=fdatasync`, the floor of a durable copy.
# Each figure is the median of 5 runs after one warm-up run. The last rows
# convert a big input (--big, 1 GiB by default) made of copies of the
# Shift_JIS corpus, from a file and through a FIFO with detection.
#
# usage: bench/compare.sh [--mek PATH] [--size 100M] [--corpus DIR] [--runs N]
#                         [--big 1G] [--results FILE]
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
mek="$here/../build/mek"
size=100M
corpus=""
runs=5
big=1G
results="$here/RESULTS.md"
while [ $# -gt 0 ]; do
  case "$1" in
    --mek) mek="$2"; shift 2 ;;
    --size) size="$2"; shift 2 ;;
    --corpus) corpus="$2"; shift 2 ;;
    --runs) runs="$2"; shift 2 ;;
    --big) big="$2"; shift 2 ;;
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
# A command that reads the FIFO gets the big file through it from cat.
feed() { case "$1" in *"$bigpipe"*) (cat "$bigfile" >"$bigpipe" &) ;; esac; }
measure() {
  local cmd="$1" i
  feed "$cmd"
  sh -c "$cmd" >/dev/null 2>&1 || { echo "failed"; return; }
  : >"$work/times"
  for ((i = 0; i < runs; i++)); do
    feed "$cmd"
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

# Derived inputs: the Shift_JIS corpus with CR LF line ends, and copies of it
# up to the big size.
crlf="$work/crlf.sjis"
"$mek" -isjis "$c.sjis" -osjis "$crlf" -win
bigfile="$work/big.sjis"
bigbytes=$(numfmt --from=iec "$big")
while [ "$(stat -c %s "$bigfile" 2>/dev/null || echo 0)" -lt "$bigbytes" ]; do
  cat "$c.sjis" >>"$bigfile"
done
truncate -s "$bigbytes" "$bigfile"
# A cut may split a character; mek and iconv then disagree only on the tail.
printf 'a' >>"$bigfile"
# The same bytes through a FIFO fed by cat: detection reads a pipe, which it
# keeps in a temporary file (the input redirection below opens the FIFO).
bigpipe="$work/big.fifo"
mkfifo "$bigpipe"

# name | mek input and options (the output is added) | iconv from | iconv to | nkf options |
# uconv from | uconv to | input
rows=(
  "Shift_JIS to UTF-8|-isjis $c.sjis -outf8|CP932|UTF-8|-S -w --cp932|windows-31j|UTF-8|$c.sjis"
  "UTF-8 to Shift_JIS|-iutf8 $c.utf8 -osjis|UTF-8|CP932|-W -s --cp932|UTF-8|windows-31j|$c.utf8"
  "EUC-JP to UTF-8|-ieuc_jp $c.euc -outf8|EUC-JP|UTF-8|-E -w|EUC-JP|UTF-8|$c.euc"
  "UTF-8 to EUC-JP|-iutf8 $c.utf8 -oeuc_jp|UTF-8|EUC-JP|-W -e|UTF-8|EUC-JP|$c.utf8"
  "ISO-2022-JP to UTF-8|-ijis $c.jis -outf8|ISO-2022-JP-3|UTF-8|-J -w|ISO-2022-JP|UTF-8|$c.jis"
  "UTF-8 to ISO-2022-JP|-iutf8 $c.utf8 -ojis|UTF-8|ISO-2022-JP-3|-W -j|UTF-8|ISO-2022-JP|$c.utf8"
  "UTF-8 to UTF-16LE|-iutf8 $c.utf8 -outf16_le|UTF-8|UTF-16LE|-W -w16L0|UTF-8|UTF-16LE|$c.utf8"
  "UTF-16LE to UTF-8|-iutf16_le $c.utf16le -outf8|UTF-16LE|UTF-8|-W16L0 -w|UTF-16LE|UTF-8|$c.utf16le"
  "Shift_JIS to UTF-8, -iauto (fullwidth)|-iauto $f.sjis -outf8|CP932|UTF-8|-S -w --cp932|windows-31j|UTF-8|$f.sjis"
  "Shift_JIS CR LF to UTF-8 LF|-isjis $crlf -outf8|CP932|UTF-8|-S -w --cp932 -Lu|windows-31j|UTF-8|$crlf"
  "Shift_JIS to UTF-8, $big|-isjis $bigfile -outf8|CP932|UTF-8|-S -w --cp932|windows-31j|UTF-8|$bigfile"
  "Shift_JIS to UTF-8, $big from a pipe, detected|-outf8 < $bigpipe|CP932|UTF-8|-S -w --cp932|windows-31j|UTF-8|$bigpipe"
)

{
  echo "# mek against its peers"
  echo
  echo "Machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores, $(free -g | awk '/Mem:/{print $2}') GiB;"
  echo "$(uname -sr); $(iconv --version | head -1); $(date -u +%Y-%m-%d)."
  echo "Corpus: mixed, $(stat -c %s "$c.utf8") bytes of UTF-8 (bench/corpus.py). Median of $runs runs after a warm-up."
  echo "Wall time in seconds and peak resident memory in MiB of each whole process. iconv and"
  echo "uconv convert no line endings: in the CR LF row they keep them. The pipe rows feed the big"
  echo "file through a FIFO, with detection."
  echo
  echo "To standard output redirected to a file (no tool flushes): cat is \`cat in > out\` (a copy"
  echo "inside the kernel), dd is \`dd bs=1M\` (a copy through user space); the slower of the two"
  echo "is the floor of copying the bytes. mek 1 is mek on one thread (MEK_WORKERS=0). Ratios are"
  echo "mek / iconv and mek / floor, with all cores and with one."
  echo
  echo "| conversion | mek s | mek 1 s | iconv s | uconv s | nkf s | cat s | dd s | / iconv | / floor | 1 / floor | mek MiB | iconv MiB | uconv MiB | nkf MiB |"
  echo "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|"
} >"$work/table"
{
  echo
  echo "To a named file, which mek flushes to disk before it replaces it: the floor is"
  echo "\`dd bs=1M conv=fdatasync\`, a durable copy."
  echo
  echo "| conversion | mek s | mek 1 s | dd fdatasync s | / dd | 1 / dd |"
  echo "|---|---|---|---|---|---|"
} >"$work/named"

mib() { [ -n "${1:-}" ] && [ "$1" != failed ] && awk -v k="$1" 'BEGIN { printf "%.0f", k / 1024 }' || echo "-"; }
ratio() {
  if [ "$1" != failed ] && [ "$1" != wrong ] && [ "$2" != failed ] && [ "$2" != "-" ]; then
    awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'
  else
    echo "-"
  fi
}
# mek reports a failed conversion on standard error only; such a run is no
# measurement.
checked() {
  feed "$1"
  if [ -n "$(sh -c "$1" 2>&1 >/dev/null)" ]; then echo "wrong"; else measure "$1"; fi
}

for row in "${rows[@]}"; do
  IFS='|' read -r name args ifrom ito nkfopts ufrom uto input <<<"$row"
  read -r mt mm <<<"$(checked "$mek $args > $o")"
  read -r m1 _ <<<"$(checked "env MEK_WORKERS=0 $mek $args > $o")"
  read -r it im <<<"$(measure "iconv -f $ifrom -t $ito $input > $o")"
  read -r ct _ <<<"$(measure "cat $input > $o")"
  # cat copies inside the kernel; dd copies through user space. The slower
  # of the two is the floor.
  read -r dt _ <<<"$(measure "dd if=$input of=$o bs=1M status=none")"
  floor=$(awk -v a="$ct" -v b="$dt" 'BEGIN { print (b > a ? b : a) }')
  nt="-"; nm=""; ut="-"; um=""
  if have nkf; then read -r nt nm <<<"$(measure "nkf $nkfopts $input > $o")"; fi
  if have uconv; then read -r ut um <<<"$(measure "uconv -f $ufrom -t $uto $input > $o")"; fi
  echo "| $name | $mt | $m1 | $it | $ut | $nt | $ct | $dt | $(ratio "$mt" "$it") | $(ratio "$mt" "$floor") | $(ratio "$m1" "$floor") | $(mib "$mm") | $(mib "$im") | $(mib "$um") | $(mib "$nm") |" >>"$work/table"
  # The same conversion to a named file, against a durable copy.
  rm -f "$o"
  read -r nt _ <<<"$(checked "$mek $args $o --force")"
  read -r n1 _ <<<"$(checked "env MEK_WORKERS=0 $mek $args $o --force")"
  read -r st _ <<<"$(measure "dd if=$input of=$o bs=1M conv=fdatasync status=none")"
  echo "| $name | $nt | $n1 | $st | $(ratio "$nt" "$st") | $(ratio "$n1" "$st") |" >>"$work/named"
done

cat "$work/named" >>"$work/table"
cat "$work/table"
# The written analysis (from the first "## " heading on) outlives a new run.
if [ -f "$results" ] && grep -q '^## ' "$results"; then
  { echo; sed -n '/^## /,$p' "$results"; } >>"$work/table"
fi
cp "$work/table" "$results"
