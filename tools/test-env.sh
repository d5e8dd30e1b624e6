#!/usr/bin/env bash
# Prepares what the Windows programs need to run here: a display (Xvfb unless
# one is given), a Wine prefix owned by this repository's build that reports
# Windows 10, and a persistent wineserver so each program starts in ~50 ms.
#
#   source tools/test-env.sh start    exports DISPLAY and WINEPREFIX
#   tools/test-env.sh stop            stops the wineserver and the Xvfb it started
# (sourced: leaves the caller's shell options alone)
_ostrel_repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$_ostrel_repo/build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# State (the Xvfb this script started) belongs to the prefix, so several
# prefixes can be used side by side.
_ostrel_state=${WINEPREFIX%/}-state
mkdir -p "$_ostrel_state"

ostrel_start_display() {
  if [ -n "${OSTREL_USE_DISPLAY:-}" ] && [ -n "${DISPLAY:-}" ]; then return 0; fi
  # A second start without a stop keeps the display it has: another Xvfb
  # would outlive the stop, which ends only the one it knows.
  if [ -f "$_ostrel_state/xvfb.pid" ] && [ -f "$_ostrel_state/xvfb.display" ] &&
    kill -0 "$(cat "$_ostrel_state/xvfb.pid")" 2>/dev/null; then
    DISPLAY=$(cat "$_ostrel_state/xvfb.display")
    export DISPLAY
    return 0
  fi
  local n
  for n in $(seq 90 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$_ostrel_state/xvfb.log" 2>&1 &
    echo $! >"$_ostrel_state/xvfb.pid"
    echo ":$n" >"$_ostrel_state/xvfb.display"
    export DISPLAY=":$n"
    local i
    for i in $(seq 1 50); do
      [ -e "/tmp/.X11-unix/X$n" ] && return 0
      sleep 0.1
    done
    echo "Xvfb :$n did not start" >&2
    return 1
  done
  echo "no free display number" >&2
  return 1
}

ostrel_prepare_prefix() {
  /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  /usr/lib/wine/wineserver -w >/dev/null 2>&1 || true
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "creating Wine prefix $WINEPREFIX"
    /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
    /usr/lib/wine/wineserver -w
  fi
  /usr/lib/wine/wineserver -p || return 1
  /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine' /v Version /d win10 /f >/dev/null 2>&1
  # Without a window manager every closed top-level window lingers ~2 s;
  # unmanaged windows close at once (Wine then draws their frames itself).
  /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  return 0
}

# The reference servers the tests talk to, over TLS with a test CA that only
# this prefix trusts: 127.0.0.1 is the wizards' built-in host, the others
# serve tests that run side by side.
OSTREL_TEST_SERVERS=${OSTREL_TEST_SERVERS:-"127.0.0.1 127.0.0.2 127.0.0.3 127.0.0.4 127.0.0.5"}
_ostrel_server_bin=$_ostrel_repo/build/server/ostrel-server
_ostrel_ca=$_ostrel_repo/build/test-ca
export OSTREL_SERVER_DATA=$_ostrel_repo/build/test-servers

ostrel_start_servers() {
  # Only runs that ask for them get servers: loopback port 443 is one per address.
  [ "${OSTREL_START_SERVERS:-0}" = 1 ] || return 0
  [ -x "$_ostrel_server_bin" ] || { echo "no reference server at $_ostrel_server_bin" >&2; return 1; }
  # Servers an interrupted run left behind hold the ports.
  ostrel_stop_servers
  # shellcheck disable=SC2086
  "$_ostrel_repo/server/make-test-ca.sh" "$_ostrel_ca" $OSTREL_TEST_SERVERS >/dev/null
  local trust=${OSTREL_TRUST_TOOL:-$_ostrel_repo/build/x86_64/bin/ostrel_trust_ca.exe}
  if [ -f "$trust" ]; then
    /usr/lib/wine/wine64 "$trust" "$_ostrel_ca/ca.der" || return 1
  fi
  local address data
  for address in $OSTREL_TEST_SERVERS; do
    data=$OSTREL_SERVER_DATA/$address
    # A pid file left by a server still going down would pass for a new one.
    rm -f "$_ostrel_state/server-$address.pid"
    rm -rf "$data"
    mkdir -p "$data/configs" "$data/files"
    # What the servers answer with: the tests' data unless a run brings its own.
    cp -r "${OSTREL_SERVER_SEED:-$_ostrel_repo/tests/data}"/. "$data/"
    # The tests steer the servers through their control interface; its token
    # lands in the data folder, where tests/common/TestServer reads it.
    # OSTREL_SIGNING_KEY makes every server sign its configuration answers
    # (the demo's). Else the API tests' server signs its answers, and a second
    # key pair stands for a key that server does not sign with.
    local signing=()
    if [ -n "${OSTREL_SIGNING_KEY:-}" ]; then
      signing=(--signing-key "$OSTREL_SIGNING_KEY")
    elif [ "$address" = 127.0.0.2 ]; then
      "$_ostrel_server_bin" keygen --out "$data/signing" >/dev/null || return 1
      "$_ostrel_server_bin" keygen --out "$data/other-signing" >/dev/null || return 1
      signing=(--signing-key "$data/signing/config-signing.key")
    fi
    "$_ostrel_server_bin" serve --address "$address" --cert "$_ostrel_ca/server.pem" --key "$_ostrel_ca/server.key" \
      --data "$data" --http-port 80 --quiet --pid-file "$_ostrel_state/server-$address.pid" \
      --control-token-file "$data/control-token" "${signing[@]}" >"$_ostrel_state/server-$address.log" 2>&1 &
  done
  local i
  for address in $OSTREL_TEST_SERVERS; do
    for i in $(seq 1 100); do
      [ -f "$_ostrel_state/server-$address.pid" ] && break
      sleep 0.05
    done
    [ -f "$_ostrel_state/server-$address.pid" ] || { echo "server on $address did not start" >&2; return 1; }
  done
}

ostrel_stop_servers() {
  local pidfile i
  for pidfile in "$_ostrel_state"/server-*.pid; do
    [ -f "$pidfile" ] || continue
    kill "$(cat "$pidfile")" >/dev/null 2>&1
    # A server removes its pid file on the way out; then its ports are free.
    for i in $(seq 1 100); do
      [ -f "$pidfile" ] || break
      sleep 0.05
    done
    rm -f "$pidfile"
  done
  return 0
}

ostrel_stop() {
  ostrel_stop_servers
  /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  if [ -f "$_ostrel_state/xvfb.pid" ]; then
    kill "$(cat "$_ostrel_state/xvfb.pid")" >/dev/null 2>&1 || true
    rm -f "$_ostrel_state/xvfb.pid"
  fi
  rm -f "$_ostrel_state/xvfb.display"
}

case "${1:-}" in
  start) ostrel_start_display && ostrel_prepare_prefix && ostrel_start_servers ;;
  stop) ostrel_stop ;;
  # The tests' own fixture: the servers alone, in a prefix already started.
  start-servers) OSTREL_START_SERVERS=1 ostrel_start_servers ;;
  stop-servers) ostrel_stop_servers ;;
  *) echo "usage: source tools/test-env.sh start | tools/test-env.sh stop | tools/test-env.sh start-servers | stop-servers" >&2 ;;
esac
