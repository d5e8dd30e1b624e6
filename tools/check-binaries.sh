#!/usr/bin/env bash
# Checks that the wizard programs of both architectures are GUI programs of
# the right kind and import, the usual way, only the two KnownDLLs the C
# runtime starts with: any other DLL would be looked for beside the program
# first. The system DLLs they use besides are delay-loaded
# (cmake/SystemImports.cmake).
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
system_dlls='^(KERNEL32|msvcrt)\.dll$'
status=0
check() {
  local exe=$1 kind=$2 objdump=$3
  local description
  description=$(file -b "$exe")
  if [[ "$description" != "$kind (GUI)"* ]]; then
    echo "FAIL $exe: expected '$kind (GUI)', got '$description'"; status=1; return
  fi
  local foreign
  foreign=$("$objdump" -p "$exe" | sed -n 's/^\s*DLL Name: //p' | grep -viE "$system_dlls" || true)
  if [ -n "$foreign" ]; then
    echo "FAIL $exe imports DLLs that are not delay-loaded: $foreign"; status=1; return
  fi
  echo "ok   $exe: $description"
}
for key in DLM ISV; do
  check "$repo/build/i686/bin/Ostrel$key.exe" "PE32 executable" i686-w64-mingw32-objdump
  check "$repo/build/x86_64/bin/Ostrel$key.exe" "PE32+ executable" x86_64-w64-mingw32-objdump
done
exit $status
