#!/usr/bin/env bash
# Installs everything the build and the tests need on a Debian 12 machine (run as root)
# and fetches the tinyxml2 and zlib (minizip) sources that are compiled for the Windows targets.
# Usage: tools/setup-deps.sh [deps-folder]   (default: <repo>/build/deps)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
deps=${1:-$repo/build/deps}

packages=(
  cmake ninja-build make python3
  mingw-w64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix libz-mingw-w64-dev
  wine wine64 xvfb xauth
  nlohmann-json3-dev googletest dpkg-dev file
  g++ pkgconf libcpp-httplib-dev libssl-dev libsqlite3-dev openssl curl osslsigncode clang-format
  # the reference server's PostgreSQL store, and the server its tests run (server/tests/postgres.sh)
  libpq-dev postgresql-15
  chromium
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# tinyxml2 and minizip are compiled for the target from Debian's source packages
# (minizip lives in zlib's, under contrib/minizip). apt-get source needs
# deb-src entries; when the machine has none, mirror its existing binary entries.
have_deb_src() {
  grep -rqsE '^[[:space:]]*deb-src[[:space:]]' /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null && return 0
  grep -rqsE '^Types:.*deb-src' /etc/apt/sources.list.d/*.sources 2>/dev/null
}
add_deb_src() {
  local out=/etc/apt/sources.list.d/ostrel-deb-src
  if compgen -G '/etc/apt/sources.list.d/*.sources' >/dev/null; then
    for f in /etc/apt/sources.list.d/*.sources; do
      case "$f" in *ostrel-deb-src*) continue ;; esac
      sed -E 's/^Types:.*/Types: deb-src/' "$f"
      echo
    done > "$out.sources"
  fi
  if [ -f /etc/apt/sources.list ]; then
    sed -nE 's/^[[:space:]]*deb[[:space:]]/deb-src /p' /etc/apt/sources.list > "$out.list"
    [ -s "$out.list" ] || rm -f "$out.list"
  fi
  apt-get update -q
}

# fetch_source PACKAGE FILE-INSIDE: unpacks PACKAGE's source into $deps unless FILE-INSIDE is there.
# A mirror may list a newer source (a security update) than it can deliver: the
# other listed versions are tried, newest first, before giving up.
fetch_source() {
  local package=$1 probe=$2 version
  ls "$deps"/"$package"-*/"$probe" >/dev/null 2>&1 && return 0
  have_deb_src || add_deb_src
  mkdir -p "$deps"
  if ! (cd "$deps" && apt-get source --download-only -q "$package"); then
    echo "the newest $package source could not be fetched; trying the other listed versions" >&2
    for version in $(apt-cache showsrc "$package" | sed -n 's/^Version: //p' | sort -u -r -V); do
      (cd "$deps" && apt-get source --download-only -q "$package=$version") && break
    done
  fi
  local dsc
  dsc=$(ls "$deps"/"$package"_*.dsc 2>/dev/null | sort -V | tail -n 1)
  [ -n "$dsc" ] || { echo "could not fetch the $package sources" >&2; return 1; }
  (cd "$deps" && dpkg-source -x "$(basename "$dsc")" >/dev/null)
}
fetch_source tinyxml2 tinyxml2.cpp
fetch_source zlib contrib/minizip/unzip.c
echo "tinyxml2 sources: $(ls -d "$deps"/tinyxml2-*/ | head -n 1)"
echo "minizip sources: $(ls -d "$deps"/zlib-*/contrib/minizip/ | head -n 1)"
