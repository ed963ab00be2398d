#!/usr/bin/env bash
# Builds the source tree afresh, installs it into a temporary prefix, checks
# the installed layout, and builds and runs examples/consumer against that
# prefix through find_package(mek).
set -euo pipefail
src=$(cd "$2" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix

step() {
  local what=$1
  shift
  if ! "$@" >"$tmp/log" 2>&1; then
    echo "FAIL: $what" >&2
    cat "$tmp/log" >&2
    exit 1
  fi
}

step "configuring mek" cmake -S "$src" -B "$tmp/build" -DCMAKE_BUILD_TYPE=Release \
  -DMEK_BUILD_TESTS=OFF -DMEK_BUILD_BENCH=OFF -DMEK_BUILD_FUZZ=OFF
step "building mek" cmake --build "$tmp/build" -j2
step "installing mek" cmake --install "$tmp/build" --prefix "$prefix"

failed=0
expect() {
  if ! compgen -G "$prefix/$1" >/dev/null; then
    echo "FAIL: $1 is not installed" >&2
    failed=1
  fi
}
expect bin/mek
expect share/man/man1/mek.1
expect "lib*/libmekcore.a"
expect "lib*/cmake/mek/mekConfig.cmake"
expect "lib*/cmake/mek/mekConfigVersion.cmake"
expect "lib*/cmake/mek/mekTargets.cmake"
# Every public header, and nothing else.
while read -r header; do
  expect "include/mek/$header"
done < <(cd "$src/include/mek" && find . -name '*.h' | sed 's|^\./||' | sort)
extra=$(cd "$prefix/include" && find . -type f | sed 's|^\./mek/||' | sort |
  comm -23 - <(cd "$src/include/mek" && find . -name '*.h' | sed 's|^\./||' | sort))
if [[ -n $extra ]]; then
  echo "FAIL: headers installed that are not public: $extra" >&2
  failed=1
fi
# The Python module, when it was built, imports from the prefix.
if compgen -G "$tmp/build/python/mek/_mek*.so" >/dev/null; then
  # Where the interpreter looks under the prefix, as the install step finds it.
  python=$(sed -n 's/^Python3_EXECUTABLE:[A-Z]*=//p' "$tmp/build/CMakeCache.txt")
  site=$("$python" "$src/python/site_dir.py" "$prefix")
  expect "$site/mek/_mek*.so"
  expect "$site/mek/__init__.pyi"
  found=$(cd "$tmp" && PYTHONPATH="$prefix/$site" "$python" -c \
    "import mek; print(mek.detect(open('$src/examples/sample-sjis.txt', 'rb').read()))") || found=
  if [[ $found != sjis ]]; then
    echo "FAIL: the installed Python module does not detect examples/sample-sjis.txt" >&2
    failed=1
  fi
fi
[[ $failed == 0 ]] || exit 1

"$prefix/bin/mek" --version >/dev/null

step "configuring the consumer" cmake -S "$src/examples/consumer" -B "$tmp/consumer" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$prefix"
step "building the consumer" cmake --build "$tmp/consumer" -j2
step "running the consumer" "$tmp/consumer/mek_consumer"
