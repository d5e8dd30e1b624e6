#!/usr/bin/env bash
# Installs everything the build and the tests need on a Debian 12 machine (run as root)
# and fetches the tinyxml2 sources that are compiled for the Windows targets.
# Usage: tools/setup-deps.sh [deps-folder]   (default: <repo>/build/deps)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
deps=${1:-$repo/build/deps}

packages=(
  cmake ninja-build make python3
  mingw-w64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
  wine wine64 xvfb xauth
  nlohmann-json3-dev googletest dpkg-dev file
  g++ pkgconf libcpp-httplib-dev libssl-dev libsqlite3-dev openssl curl
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

# tinyxml2 is compiled for the target from Debian's source package. apt-get source needs
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

if ! ls "$deps"/tinyxml2-*/tinyxml2.cpp >/dev/null 2>&1; then
  have_deb_src || add_deb_src
  mkdir -p "$deps"
  (cd "$deps" && apt-get source --download-only -q tinyxml2 && dpkg-source -x tinyxml2_*.dsc >/dev/null)
fi
src=$(ls -d "$deps"/tinyxml2-*/ | head -n 1)
echo "tinyxml2 sources: $src"
