#!/usr/bin/env bash
# Runs a Windows program under wine64 in the test prefix (the emulator ctest
# uses for every test program). The prefix and the persistent wineserver are
# prepared by tools/test-env.sh.
set -u
repo=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$repo/build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
exec /usr/lib/wine/wine64 "$@"
