#!/usr/bin/env bash
# The main job: builds the wizards and starts them. With a display (DISPLAY
# set) the download wizard opens in a window for you to use; without one it
# runs under Xvfb, is walked through its pages, and screenshots are saved.
# On a fresh Debian 12 machine, as root: tools/run-demo.sh
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"

tools/setup-deps.sh
cmake --preset x86_64 >/dev/null
cmake --build --preset x86_64

if [ -n "${DISPLAY:-}" ]; then
  export OSTREL_USE_DISPLAY=1
fi
# shellcheck source=tools/test-env.sh
source tools/test-env.sh start
trap 'tools/test-env.sh stop' EXIT

if [ -n "${OSTREL_USE_DISPLAY:-}" ]; then
  echo "starting the download wizard on $DISPLAY (close its window to end)"
  /usr/lib/wine/wine64 build/x86_64/bin/OstrelDLM.exe
else
  shots=$repo/build/demo-screenshots
  rm -rf "$shots"
  echo "no display: walking through the wizards under Xvfb ($DISPLAY)"
  /usr/lib/wine/wine64 build/x86_64/bin/ostrel_demo.exe "Z:$shots"
  echo "screenshots:"
  ls -1 "$shots"
fi
