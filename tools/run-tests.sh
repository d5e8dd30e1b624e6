#!/usr/bin/env bash
# Builds everything (both architectures, both wizards) and runs every test.
# On a fresh Debian 12 machine, as root: tools/run-tests.sh
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"

echo "== checking that no folder includes a header from a folder above it"
tools/check-layers.sh

tools/setup-deps.sh

echo "== checking that every C++ source is in the house format (.clang-format)"
tools/check-format.sh

echo "== building the 64-bit wizards and tests (run under wine64)"
cmake --preset x86_64 >/dev/null
cmake --build --preset x86_64
echo "== building the 32-bit release wizards (compile and link only: this kernel runs no 32-bit code)"
cmake --preset i686 >/dev/null
cmake --build --preset i686
tools/check-binaries.sh

if [ -f server/CMakeLists.txt ]; then
  echo "== building and testing the reference server"
  cmake -S server -B build/server -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build/server
  ctest --test-dir build/server --output-on-failure -j2
fi

echo "== running the Windows tests under Wine and Xvfb"
rm -rf build/x86_64/screenshots
# shellcheck source=tools/test-env.sh
# The reference servers are a fixture of the tests themselves (tests/CMakeLists.txt).
source tools/test-env.sh start
trap 'tools/test-env.sh stop' EXIT
# Wine now and then fails to start a process at all (no output, ~10 ms):
# such a test gets one more run; a real failure fails both.
ctest --preset x86_64 --repeat until-pass:2
echo "screenshots: $repo/build/x86_64/screenshots"
