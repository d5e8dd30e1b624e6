#!/usr/bin/env bash
# Checks that the wizard programs of both architectures are GUI programs of
# the right kind, import the usual way only the two KnownDLLs the C runtime
# starts with (any other DLL would be looked for beside the program first; the
# system DLLs they use besides are delay-loaded, cmake/SystemImports.cmake),
# and carry one version in both the version resource and the manifest.
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
  # Windows shows the version resource; the loader matches the manifest's
  # assembly identity: a release must not carry two different versions.
  local manifest_version file_version
  manifest_version=$(strings -n 8 "$exe" | sed -n 's/.*name="Ostrel.Setup" version="\([0-9.]*\)".*/\1/p' | head -1)
  file_version=$(strings -el "$exe" | grep -A1 -x FileVersion | tail -1)
  if [ -z "$manifest_version" ] || [ "$manifest_version" != "$file_version" ]; then
    echo "FAIL $exe: manifest version '$manifest_version' differs from file version '$file_version'"; status=1; return
  fi
  echo "ok   $exe: $description, version $file_version"
}
for key in DLM ISV; do
  check "$repo/build/i686/bin/Ostrel$key.exe" "PE32 executable" i686-w64-mingw32-objdump
  check "$repo/build/x86_64/bin/Ostrel$key.exe" "PE32+ executable" x86_64-w64-mingw32-objdump
done
exit $status
