#!/usr/bin/env bash
# Times the distributor's report over a large store: fills a data folder with
# N realistic events (wizard runs with every field the wizard sends, through the
# store's own inserts; server/bench/report_fill.cpp), then runs
# `ostrel-server report --html` under /usr/bin/time for its wall time and peak
# resident memory, and checks that the page counts every event. The target on 2
# cores: 1,000,000 events in at most 5 s and 200 MiB. Prints figures; it is not a
# test and exits 0 whatever they are (non-zero only when it cannot measure).
#
#   bench/report.sh
#
# Environment: OSTREL_BENCH_REPORT_EVENTS (1000000), OSTREL_BENCH_SERVER_DIR
# (build folder, build/server), OSTREL_BENCH_REPORT_DATA (a filled folder to
# reuse instead of a fresh one; kept afterwards).
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"

events=${OSTREL_BENCH_REPORT_EVENTS:-1000000}
server_build=${OSTREL_BENCH_SERVER_DIR:-$repo/build/server}

cmake -S server -B "$server_build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$server_build" --target ostrel-server ostrel-report-fill

work=$(mktemp -d /tmp/ostrel-bench-report.XXXXXX)
trap 'rm -rf "$work"' EXIT
data=${OSTREL_BENCH_REPORT_DATA:-$work/data}
mkdir -p "$data"
if [ ! -f "$data/ostrel.db" ]; then
  echo "filling a store with $events events"
  fill_start=$(date +%s)
  "$server_build/ostrel-report-fill" --data "$data" --events "$events"
  echo "filled in $(($(date +%s) - fill_start)) s"
fi

# The first read after the fill pays for the disk; the figure is the second.
"$server_build/ostrel-server" report --data "$data" --html "$work/warm.html"
/usr/bin/time -f 'report_seconds %e\nreport_peak_kib %M' -o "$work/time.txt" \
  "$server_build/ostrel-server" report --data "$data" --html "$work/report.html"
cat "$work/time.txt"
stored=$("$server_build/ostrel-server" report --data "$data" --json |
  python3 -c 'import json, sys; print(json.load(sys.stdin)["events"])')
echo "report_events $stored"
echo "report_page_bytes $(stat -c %s "$work/report.html")"
