#!/usr/bin/env bash
# The main job: builds the wizards and the reference server, serves a demo
# configuration (a product with a picture and three offers with pictures, one
# of which the rules reject) on the wizards' built-in host 127.0.0.1, and runs
# a wizard against it. With a display (DISPLAY set) the wizard opens in a
# window for you to use; without one it runs under Xvfb, is walked through its
# pages (accepting one offer, declining one), a screenshot of every page is
# saved, and the server's event report is printed at the end (and written as
# an HTML page, build/demo-report.html). Every package of the demo names its
# SHA-256, so every download is verified. The demo's
# wizards are built with the public key of a throwaway signing key pair
# (OSTREL_CONFIG_KEY) in a build folder of their own (build/demo-x86_64), and
# the server signs its configuration answers with the private key, as a
# distributor's does with its own.
# On a fresh Debian 12 machine, as root:
#   tools/run-demo.sh          the download wizard
#   tools/run-demo.sh isv      the installer wizard
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
key=DLM
[ "${1:-}" = isv ] && key=ISV

tools/setup-deps.sh
cmake -S server -B build/server -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/server

signing=$repo/build/demo-signing
rm -rf "$signing"
build/server/ostrel-server keygen --out "$signing"
bin=$repo/build/demo-x86_64/bin
cmake --preset x86_64 -B build/demo-x86_64 -DOSTREL_CONFIG_KEY="$signing/config-signing.pub" >/dev/null
cmake --build build/demo-x86_64 --target OstrelDLM OstrelISV ostrel_demo ostrel_trust_ca ostrel_sample_installer

demo=$repo/build/demo-data
rm -rf "$demo"
python3 tools/demo/make_demo_data.py "$demo" "$bin/ostrel_sample_installer.exe"

if [ -n "${DISPLAY:-}" ]; then
  export OSTREL_USE_DISPLAY=1
fi
export OSTREL_START_SERVERS=1 OSTREL_TEST_SERVERS=127.0.0.1 OSTREL_SERVER_SEED=$demo
export OSTREL_SIGNING_KEY=$signing/config-signing.key OSTREL_TRUST_TOOL=$bin/ostrel_trust_ca.exe
# shellcheck source=tools/test-env.sh
source tools/test-env.sh start
trap 'tools/test-env.sh stop' EXIT

if [ -n "${OSTREL_USE_DISPLAY:-}" ]; then
  echo "starting the $key wizard on $DISPLAY (close its window to end)"
  /usr/lib/wine/wine64 "$bin/Ostrel$key.exe"
else
  shots=$repo/build/demo-screenshots
  rm -rf "$shots"
  echo "no display: walking through the $key wizard under Xvfb ($DISPLAY)"
  runs=$repo/build/demo-installer-runs.jsonl
  rm -f "$runs"
  # The product that Finish launches is started by the desktop's shell, with
  # the user's rights and Explorer's environment: it records itself beside
  # itself in Downloads, not in the wizard's record.
  downloads=$WINEPREFIX/drive_c/users/$(id -un)/Downloads
  started=$(mktemp)
  status=0
  /usr/lib/wine/wine64 "$bin/ostrel_demo.exe" "$key" "Z:$shots" "Z:$runs" || status=$?
  echo "screenshots:"
  ls -1 "$shots"
  echo "installers the wizard started (path and arguments):"
  python3 -c 'import json,sys
for line in open(sys.argv[1]):
    run = json.loads(line)
    print("  %s %s" % (run["path"], " ".join(run["arguments"])))' "$runs" 2>/dev/null || echo "  none"
  echo "what Finish launched through the desktop's shell (path, arguments, parent process):"
  find -L "$downloads" -maxdepth 1 -name '*.runs.jsonl' -newer "$started" 2>/dev/null | while read -r record; do
    python3 -c 'import json,sys
for line in open(sys.argv[1]):
    run = json.loads(line)
    if "parentExe" in run:
        print("  %s %s (started by %s)" % (run["path"], " ".join(run["arguments"]), run["parentExe"]))' "$record"
  done
  rm -f "$started"
  echo "SHA-256 the configuration names, checked by the wizard before anything ran:"
  python3 tools/demo/show_digests.py "$demo/configs/default.json" "$runs" "$WINEPREFIX"
fi
echo "events received by the analytics server:"
build/server/ostrel-server report --data "$OSTREL_SERVER_DATA/127.0.0.1"
report_page=$repo/build/demo-report.html
build/server/ostrel-server report --data "$OSTREL_SERVER_DATA/127.0.0.1" --html "$report_page"
echo "the same report as a page for a browser: $report_page"
exit "${status:-0}"
