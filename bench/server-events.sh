#!/usr/bin/env bash
# Loads the reference server's analytics endpoint: N concurrent clients, each on
# one kept-alive HTTPS connection, post signed events (signed as the wizard signs
# them) for a fixed time. Prints the events per second answered 200, the p50 and
# p99 latency, and whether the store holds exactly as many events as were
# answered 200 (nothing lost). The target on 2 cores: at least 2,000 events per
# second with nothing lost.
#
# Then the same for two servers sharing one PostgreSQL store (a PostgreSQL of its
# own, server/tests/postgres.sh), 64 clients spread over both (lines pg_*; target
# at least 3,000 events per second, none lost), and once more with the database
# stopped and started in the middle (lines pgrestart_*: events are refused with
# 503 meanwhile, and none answered 200 may be lost).
#
# Prints figures; it is not a test and exits 0 whatever they are (non-zero only
# when a server cannot be run or measured).
#
#   bench/server-events.sh
#
# Environment: OSTREL_BENCH_EVENT_ADDRESS (loopback address of its own server,
# 127.0.0.21), OSTREL_BENCH_EVENT_CLIENTS (32), OSTREL_BENCH_EVENT_SECONDS (10),
# OSTREL_BENCH_SERVER_DIR (build folder, build/server); for the PostgreSQL runs
# OSTREL_BENCH_PG_ADDRESSES (127.0.0.22 127.0.0.23), OSTREL_BENCH_PG_CLIENTS (64).
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
pg_pids=()
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null || true
  for pid in "${pg_pids[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true; done
  server/tests/postgres.sh stop "$work/postgres" >/dev/null 2>&1 || true
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

# --- two servers, one PostgreSQL store -------------------------------------
read -r -a pg_addresses <<<"${OSTREL_BENCH_PG_ADDRESSES:-127.0.0.22 127.0.0.23}"
pg_clients=${OSTREL_BENCH_PG_CLIENTS:-64}
chmod 755 "$work"  # the database runs as a user of its own, who must reach its folder
admin=$(server/tests/postgres.sh start "$work/postgres")
server/make-test-ca.sh "$work/pg-ca" "${pg_addresses[@]}" >/dev/null

# pg_run NAME: a fresh database NAME, both servers on it, the load; the load
# client's lines prefixed with NAME_, then NAME_stored and NAME_lost. With
# RESTART_AFTER set, the database is stopped that many seconds into the load
# and started again a second later.
pg_run() {
  local name=$1 store address
  psql -q "$admin" -c "CREATE DATABASE $name" >/dev/null
  store="$admin dbname=$name"
  pg_pids=()
  for address in "${pg_addresses[@]}"; do
    mkdir -p "$work/$name-$address"
    "$server_build/ostrel-server" serve --address "$address" --cert "$work/pg-ca/server.pem" \
      --key "$work/pg-ca/server.key" --data "$work/$name-$address" --store "$store" \
      --pid-file "$work/$name-$address.pid" >"$work/$name-$address.log" 2>&1 &
    pg_pids+=($!)
  done
  for address in "${pg_addresses[@]}"; do
    for _ in $(seq 1 100); do [ -f "$work/$name-$address.pid" ] && break; sleep 0.05; done
    [ -f "$work/$name-$address.pid" ] || { cat "$work/$name-$address.log" >&2; return 1; }
  done
  echo "$pg_clients clients posting to ${pg_addresses[*]} (one PostgreSQL store) for $seconds s${RESTART_AFTER:+, database restarted after $RESTART_AFTER s}"
  local addresses
  addresses=$(IFS=,; echo "${pg_addresses[*]}")
  "$server_build/ostrel-event-load" --address "$addresses" --port 443 --ca "$work/pg-ca/ca.pem" \
    --clients "$pg_clients" --seconds "$seconds" >"$work/$name-load.txt" &
  local load=$!
  if [ -n "${RESTART_AFTER:-}" ]; then
    sleep "$RESTART_AFTER"
    local restart_began=$SECONDS
    server/tests/postgres.sh stop "$work/postgres"
    sleep 1
    server/tests/postgres.sh start "$work/postgres" >/dev/null
    echo "${name}: database stopped at ${RESTART_AFTER} s, up again after $((SECONDS - restart_began)) s" >&2
  fi
  wait "$load" || true
  for pid in "${pg_pids[@]}"; do kill "$pid"; wait "$pid" || true; done
  pg_pids=()
  sed "s/^/${name}_/" "$work/$name-load.txt"
  local stored answered
  stored=$("$server_build/ostrel-server" report --store "$store" --json |
    python3 -c 'import json, sys; print(json.load(sys.stdin)["events"])')
  answered=$(awk '$1 == "answered_200" { print $2 }' "$work/$name-load.txt")
  echo "${name}_stored $stored"
  echo "${name}_lost $((answered - stored))"
}

pg_run pg
RESTART_AFTER=$((seconds / 2)) pg_run pgrestart
