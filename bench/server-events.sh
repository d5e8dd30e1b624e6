#!/usr/bin/env bash
# Loads the reference server's analytics endpoint: N concurrent clients, each on
# one kept-alive HTTPS connection, post signed events (signed as the wizard signs
# them) for a fixed time. Prints the events per second answered 200, the p50 and
# p99 latency, and whether the store holds exactly as many events as were
# answered 200 (nothing lost). The target on 2 cores: at least 2,000 events per
# second with nothing lost. Prints figures; it is not a test and exits 0 whatever
# they are (non-zero only when the server cannot be run or measured).
#
#   bench/server-events.sh
#
# Environment: OSTREL_BENCH_EVENT_ADDRESS (loopback address of its own server,
# 127.0.0.21), OSTREL_BENCH_EVENT_CLIENTS (32), OSTREL_BENCH_EVENT_SECONDS (10),
# OSTREL_BENCH_SERVER_DIR (build folder, build/server).
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"

address=${OSTREL_BENCH_EVENT_ADDRESS:-127.0.0.21}
clients=${OSTREL_BENCH_EVENT_CLIENTS:-32}
seconds=${OSTREL_BENCH_EVENT_SECONDS:-10}
server_build=${OSTREL_BENCH_SERVER_DIR:-$repo/build/server}

cmake -S server -B "$server_build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$server_build" --target ostrel-server ostrel-event-load

work=$(mktemp -d /tmp/ostrel-bench-events.XXXXXX)
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
# shellcheck source=bench/bench-server.sh
source bench/bench-server.sh

# As a distributor runs it: no control interface, one log line per request.
bench_start_server "$address" "$work" "$server_build/ostrel-server"

echo "$clients clients posting signed events to https://$address/zbd for $seconds s"
"$server_build/ostrel-event-load" --address "$address" --port 443 --ca "$work/ca/ca.pem" \
  --clients "$clients" --seconds "$seconds" | tee "$work/load.txt"

# Stopped first: what it stored is then all on disk.
kill "$server_pid"
wait "$server_pid" || true
server_pid=
stored=$("$server_build/ostrel-server" report --data "$work/data" --json |
  python3 -c 'import json, sys; print(json.load(sys.stdin)["events"])')
answered=$(awk '$1 == "answered_200" { print $2 }' "$work/load.txt")
echo "stored $stored"
echo "lost $((answered - stored))"
