#!/usr/bin/env bash
# The release signing (cmake/Signing.cmake) on a program of its own, built
# with the same toolchain: signed programs verify against the certificate
# they were signed with, and a certificate renewed in place signs them again
# at the next build instead of leaving the old signature behind.
set -uo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAILED: $1"
  failures=$((failures + 1))
}

make_certificate() {
  openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=$1" -addext "extendedKeyUsage=codeSigning" \
    -keyout "$work/key.pem" -out "$work/cert.pem" >/dev/null 2>&1
}

mkdir -p "$work/src"
cat >"$work/src/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(signing_probe C)
include($repo/cmake/Signing.cmake)
add_executable(probe probe.c)
ostrel_sign_program(probe)
CMAKE
printf 'int main(void) { return 0; }\n' >"$work/src/probe.c"

configure_and_build() {
  cmake -S "$work/src" -B "$work/build" -G Ninja -DCMAKE_SYSTEM_NAME=Windows \
    -DCMAKE_C_COMPILER=x86_64-w64-mingw32-gcc-posix -DOSTREL_SIGN_CERT="$work/cert.pem" \
    -DOSTREL_SIGN_KEY="$work/key.pem" >"$work/configure.log" 2>&1 &&
    cmake --build "$work/build" >"$work/build.log" 2>&1
}

verifies() {
  osslsigncode verify -CAfile "$work/cert.pem" -in "$work/build/probe.exe" >"$work/verify.log" 2>&1
}

make_certificate "first"
if ! configure_and_build; then
  fail "the probe does not build signed"
  cat "$work/configure.log" "$work/build.log"
elif ! verifies; then
  fail "the signed probe does not verify against its certificate"
fi

# Renewed at the same path: nothing else changes.
make_certificate "renewed"
if ! configure_and_build; then
  fail "the probe does not build after the certificate was renewed"
elif ! verifies; then
  fail "after a renewal in place the probe still carries the old signature"
fi

[ "$failures" -eq 0 ] && echo "signing: both checks passed"
exit "$failures"
