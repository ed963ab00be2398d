#!/usr/bin/env bash
# The Debian package, as a user gets it: built from the configured build
# folder (BUILD, default build) with cpack, installed with apt-get on this
# machine, tried (the tool, the man page, the module, find_package(mek)),
# then removed, after which nothing of it may be left.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
build=${1:-build}
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# The module goes where Debian's python3 reads; nothing is rebuilt.
cmake -S . -B "$build" -DMEK_PYTHON_INSTALL_DIR=lib/python3/dist-packages >/dev/null
cmake --build "$build" -j2 >/dev/null
rm -rf "$build/package"
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$build/package" >/dev/null 2>&1 ||
  fail "cpack -G DEB"
deb=$(realpath "$build"/package/mek_*.deb)
echo "$(basename "$deb"): $(dpkg-deb --field "$deb" Depends)"
dpkg-deb --field "$deb" Depends | grep -q 'python3 (>= 3' || fail "no dependency on python3"

# A package left by an interrupted run goes first.
if dpkg -s mek >/dev/null 2>&1; then apt-get remove -y -qq mek >/dev/null; fi
apt-get install -y -qq "$deb" >/dev/null || fail "apt-get install $deb"
mapfile -t owned < <(dpkg -L mek)

[ "$(command -v mek)" = /usr/bin/mek ] || fail "mek is not /usr/bin/mek"
mek --version | grep -q '^mek ' || fail "mek --version"
mek -isjis examples/sample-sjis.txt -outf8 | cmp -s - examples/sample-utf8.txt ||
  fail "the installed mek does not convert examples/sample-sjis.txt"
[ "$(man -w mek 2>/dev/null || true)" = /usr/share/man/man1/mek.1 ] ||
  [ -f /usr/share/man/man1/mek.1 ] || fail "no man page"
found=$(cd /tmp && /usr/bin/python3 -c "import mek; \
assert mek.__file__.startswith('/usr/lib/python3/dist-packages/mek/'), mek.__file__; \
print(mek.detect(open('$src/examples/sample-sjis.txt', 'rb').read()))")
[ "$found" = sjis ] || fail "import mek from the package"
consumer=$(mktemp -d)
trap 'rm -rf "$consumer"' EXIT
cmake -S examples/consumer -B "$consumer" -DCMAKE_BUILD_TYPE=Release >/dev/null ||
  fail "find_package(mek) against the package"
cmake --build "$consumer" >/dev/null && "$consumer/mek_consumer" >/dev/null ||
  fail "the consumer built against the package"

apt-get remove -y -qq mek >/dev/null || fail "apt-get remove mek"
dpkg -s mek >/dev/null 2>&1 && fail "mek is still installed"
left=()
for path in "${owned[@]}"; do
  # Folders the package shares with others (/usr, /usr/bin, ...) stay.
  if [ -f "$path" ] || [ -L "$path" ]; then left+=("$path"); fi
done
for dir in /usr/include/mek /usr/lib/cmake/mek /usr/lib/python3/dist-packages/mek; do
  [ -e "$dir" ] && left+=("$dir")
done
[ ${#left[@]} -eq 0 ] || fail "left behind after removal: ${left[*]}"
echo "the package installs, works and leaves nothing behind"
