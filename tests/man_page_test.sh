#!/usr/bin/env bash
# Renders the man page, failing on any formatter warning, and checks that it
# documents every code name, line-ending name and message of the tool, and
# the tool's current version.
set -euo pipefail
mek=$1
src=$2
page=$src/docs/mek.1
failed=0

if command -v groff >/dev/null; then
  warnings=$(groff -man -ww -z "$page" 2>&1)
elif command -v mandoc >/dev/null; then
  warnings=$(mandoc -T lint -W warning "$page" 2>&1 || true)
elif [[ -n ${CI:-} ]]; then
  echo "FAIL: neither groff nor mandoc is installed" >&2
  exit 1
else
  echo "SKIP: neither groff nor mandoc is installed (apt-get install groff-base)"
  exit 77
fi
if [[ -n $warnings ]]; then
  echo "FAIL: the man page renders with warnings:" >&2
  echo "$warnings" >&2
  failed=1
fi

# Words set in bold by .B, .BR and .RB lines, with \- read as -.
bold=$(grep -E '^\.(B|BR|RB) ' "$page" | sed -E 's/^\.[A-Z]+ //; s/\\-/-/g' | tr -s ' ",' '\n')

# The names of both grids of the usage text, every code name and alias of
# the help's list of codes, and every long option.
help=$("$mek" --help)
names=$({
  sed -n '/^character-code:$/,/^$/p' <<<"$help" | grep -v ':$' | tr -s ' ' '\n'
  sed -n '/^codes/,/^line endings/p' <<<"$help" | grep -E '^  [^ ]' | sed 's/^  //; s/, /\n/g'
  grep -oE '^  --[a-z0-9-]+' <<<"$help" | sed 's/^  //'
} | sed '/^$/d' | sort -u)
if [[ $(wc -l <<<"$names") -lt 30 ]]; then
  echo "FAIL: could not read the name tables from the usage text" >&2
  failed=1
fi
while read -r name; do
  if ! grep -qxF -- "$name" <<<"$bold"; then
    echo "FAIL: the name $name is not documented" >&2
    failed=1
  fi
done <<<"$names"

# Every message the sources can print.
messages=$(grep -rhoE '"cannot [a-z ]+\\n"' "$src"/app "$src"/convert "$src"/unicode \
  "$src"/japanese "$src"/detect | sed -E 's/^"//; s/\\n"$//' | sort -u)
while read -r message; do
  if ! grep -qxF ".B $message" "$page"; then
    echo "FAIL: the message \"$message\" is not documented" >&2
    failed=1
  fi
done <<<"$messages"

version=$("$mek" --version)
if ! grep -E '^\.TH ' "$page" | grep -qF "\"$version\""; then
  echo "FAIL: the man page header does not name \"$version\"" >&2
  failed=1
fi

exit $failed
