#!/usr/bin/env bash
# The JIS X 0213 codes and eucJP-ms against glibc iconv and Python's codecs,
# both ways, item by item; the differences must be those listed in
# tests/wide_code_differences.txt (see tests/wide_codes_peers.py).
#
# usage: bash wide_codes_peers_test.sh <mek-exe> <source-dir>
# Without python3, or without any peer, the check is skipped (status 77).
set -euo pipefail

if ! command -v python3 >/dev/null; then
  echo "skipped: no python3"
  exit 77
fi
exec python3 "$2/tests/wide_codes_peers.py" "$1" "$2"
