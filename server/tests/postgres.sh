#!/usr/bin/env bash
# A PostgreSQL of its own for the reference server's tests and benchmarks, from
# Debian's postgresql-15: its data in DIR/data, reachable only through the Unix
# socket in DIR/socket (no TCP port to collide with anyone's), the superuser
# "ostrel" trusted on that socket. PostgreSQL refuses to run as root, so under
# root it runs as the system user ostrel-postgres, made here when missing.
#
#   server/tests/postgres.sh start DIR   initialises DIR once, starts the server (or finds
#                                        it running) and prints its libpq connection string
#   server/tests/postgres.sh stop DIR    stops it (fast: open transactions are rolled back)
#   server/tests/postgres.sh freeze DIR  stops all its processes where they stand (SIGSTOP):
#                                        connections stay open and nothing answers
#   server/tests/postgres.sh thaw DIR    lets them go on (SIGCONT)
#
# Exits non-zero, with PostgreSQL's log, when the server cannot be started.
# Environment: OSTREL_POSTGRES_BIN (/usr/lib/postgresql/15/bin).
set -euo pipefail
command=${1:?start or stop}
dir=${2:?DIR}
bin=${OSTREL_POSTGRES_BIN:-/usr/lib/postgresql/15/bin}
user=ostrel-postgres

as_owner() {
  if [ "$(id -u)" = 0 ]; then runuser -u "$user" -- "$@"; else "$@"; fi
}

running() { [ -f "$dir/data/postmaster.pid" ] && as_owner "$bin/pg_ctl" -D "$dir/data" status >/dev/null 2>&1; }

start() {
  [ -x "$bin/pg_ctl" ] || { echo "postgres.sh: $bin/pg_ctl missing (Debian package postgresql-15)" >&2; exit 1; }
  if [ "$(id -u)" = 0 ] && ! id "$user" >/dev/null 2>&1; then
    useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin "$user"
  fi
  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd -P)
  if ! as_owner test -x "$(dirname "$dir")"; then
    # A build folder inside a closed one (root's home) is out of the server's
    # reach: its folder then lives in /var/tmp, DIR becoming a link to it.
    local real
    real=$(mktemp -d /var/tmp/ostrel-postgres.XXXXXX)
    chmod 755 "$real"
    rmdir "$dir"
    ln -s "$real" "$dir"
    dir=$real
  fi
  mkdir -p "$dir/socket"
  [ "$(id -u)" = 0 ] && chown "$user" "$dir" "$dir/socket"
  if [ ! -f "$dir/data/PG_VERSION" ]; then
    as_owner "$bin/initdb" -D "$dir/data" -U ostrel --auth=trust -E UTF8 --no-locale >"$dir/initdb.log" 2>&1 ||
      { cat "$dir/initdb.log" >&2; exit 1; }
  fi
  if ! running; then
    as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/postgres.log" -w -t 60 \
      -o "-c listen_addresses='' -c unix_socket_directories='$dir/socket' -c max_connections=200" start >/dev/null ||
      { cat "$dir/postgres.log" >&2; exit 1; }
  fi
  echo "host=$dir/socket user=ostrel dbname=postgres"
}

stop() {
  [ -e "$dir" ] || return 0
  dir=$(cd "$dir" && pwd -P)
  running || return 0
  as_owner "$bin/pg_ctl" -D "$dir/data" -m fast -w -t 60 stop >/dev/null
}

# children PID: the processes PID started (from /proc; no procps needed).
children() {
  local stat pid name state parent
  for stat in /proc/[0-9]*/stat; do
    read -r pid name state parent _ <"$stat" 2>/dev/null || continue
    [ "$parent" = "$1" ] && echo "$pid"
  done
  return 0
}

# signal_all SIGNAL: the postmaster and every process it started; nothing to do
# when it is not running.
signal_all() {
  [ -f "$dir/data/postmaster.pid" ] || return 0
  local postmaster
  postmaster=$(head -n 1 "$dir/data/postmaster.pid")
  # Children first when stopping, so none sees its parent stopped and acts on it.
  if [ "$1" = STOP ]; then
    children "$postmaster" | xargs -r kill -STOP
    kill -STOP "$postmaster"
  else
    kill -CONT "$postmaster"
    children "$postmaster" | xargs -r kill -CONT
  fi
}

case "$command" in
  start) start ;;
  stop) stop ;;
  freeze) signal_all STOP ;;
  thaw) signal_all CONT ;;
  *) echo "postgres.sh: start, stop, freeze or thaw, not '$command'" >&2; exit 2 ;;
esac
