#!/usr/bin/env bash
# The WebAssembly leg: Debian's emscripten builds the core, the module and
# the page in build-web; the module's test runs under Node, and the page's in
# headless Chromium against the native tool of the build folder BUILD
# (default build, made here if it has no tool yet). What is missing is
# installed with apt; where that fails, the leg says so and is skipped.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
stage() { echo "== $* (at ${SECONDS}s)"; }

need=()
command -v emcc >/dev/null 2>&1 || need+=(emscripten)
command -v node >/dev/null 2>&1 || need+=(nodejs)
command -v chromium >/dev/null 2>&1 || need+=(chromium)
command -v chromedriver >/dev/null 2>&1 || need+=(chromium-driver)
/usr/bin/python3 -c 'import selenium' 2>/dev/null || need+=(python3-selenium)
if [ ${#need[@]} -gt 0 ]; then
  stage "installing ${need[*]}"
  if ! { apt-get update -qq && apt-get install -y -qq "${need[@]}"; } >/tmp/mek-web-apt.log 2>&1; then
    echo "could not install ${need[*]}:" >&2
    tail -20 /tmp/mek-web-apt.log >&2
    echo "SKIPPED: the WebAssembly leg needs ${need[*]}"
    exit 0
  fi
fi
# Debian's emscripten finds its acorn there when node is not Debian's.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}

stage "the native tool the page is checked against"
[ -x "$build/mek" ] || { cmake -S . -B "$build" >/dev/null && cmake --build "$build" --target mek -j2 >/dev/null; }

stage "the WebAssembly build: the core, the module and the page"
emcmake cmake -S . -B build-web -DMEK_NATIVE_TOOL="$PWD/$build/mek" >/dev/null
cmake --build build-web -j2

stage "the module under Node, the page in headless Chromium"
ctest --test-dir build-web --output-on-failure --no-tests=error
stage "done"
