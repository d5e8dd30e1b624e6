# Sourced by the benchmarks that bring a reference server of their own.
#
#   bench_begin NAME
#
# Makes the benchmark's scratch folder /tmp/NAME.XXXXXX (left in work),
# prepares the Windows side of tools/test-env.sh without its servers, and
# arranges that when the script ends its server is stopped, Wine too, and the
# folder removed.
bench_begin() {
  work=$(mktemp -d "/tmp/$1.XXXXXX")
  server_pid=
  # The servers of tools/test-env.sh are not wanted: the benchmark brings its own.
  export OSTREL_START_SERVERS=0
  # shellcheck source=tools/test-env.sh
  source tools/test-env.sh start
  trap bench_end EXIT
}

bench_end() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  tools/test-env.sh stop
  rm -rf "$work"
}

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
