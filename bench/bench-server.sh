# Sourced by the benchmarks that bring a reference server of their own.
#
#   bench_start_server ADDRESS WORK SERVER [serve options ...]
#
# Makes a certificate authority for ADDRESS in WORK/ca, starts SERVER (the
# ostrel-server program) on ADDRESS with its data in WORK/data and its output
# in WORK/server.log, and returns once it listens: a server writes its pid
# file only then. Its process id is left in server_pid, for the caller's
# clean-up. Fails, with the server's log, when it does not come up.
bench_start_server() {
  local address=$1 work=$2 server=$3
  shift 3
  server/make-test-ca.sh "$work/ca" "$address" >/dev/null
  mkdir -p "$work/data"
  "$server" serve --address "$address" --cert "$work/ca/server.pem" --key "$work/ca/server.key" \
    --data "$work/data" --pid-file "$work/server.pid" "$@" >"$work/server.log" 2>&1 &
  server_pid=$!
  for _ in $(seq 1 100); do
    [ -f "$work/server.pid" ] && return 0
    sleep 0.05
  done
  echo "server on $address did not start" >&2
  cat "$work/server.log" >&2
  return 1
}
