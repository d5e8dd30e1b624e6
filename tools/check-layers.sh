#!/usr/bin/env bash
# Fails when a program source includes a header from a folder above its own.
# The folders of the program are layers, lowest first; a folder may include
# its own headers and those of any layer below it. Folders on one line form
# one layer and may include each other: the host and its pages know one
# another (the host creates the pages, the pages implement its contract).
# tests/, tools/ and bench/ stand above everything and may include anything;
# nothing in the program includes them.
#
# tools/check-layers.sh [ROOT]   (ROOT: the tree to check, this one by default)
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}

layers=(
  "resources"
  "framework"
  "registry"
  "core"
  "api"
  "download"
  "packages"
  "localisation"
  "offers install shell"
)
above_all="tests tools bench server"

declare -A rank
for i in "${!layers[@]}"; do
  for folder in ${layers[$i]}; do rank[$folder]=$i; done
done
for folder in $above_all; do rank[$folder]=${#layers[@]}; done

status=0

# A subsystem the build compiles but the order does not place would escape
# the check altogether.
subsystems=$(sed -n 's/^set(OSTREL_SUBSYSTEMS \(.*\))$/\1/p' "$root/CMakeLists.txt")
if [ -z "$subsystems" ]; then
  echo "check-layers: no OSTREL_SUBSYSTEMS list in $root/CMakeLists.txt" >&2
  exit 2
fi
for folder in $subsystems; do
  if [ -z "${rank[$folder]+set}" ] || [ "${rank[$folder]}" -ge "${#layers[@]}" ]; then
    echo "$folder/: a folder of the program that has no place in the order of layers (tools/check-layers.sh)"
    status=1
  fi
done

for layer in "${layers[@]}"; do
  for folder in $layer; do
    [ -d "$root/$folder" ] || continue
    own=${rank[$folder]}
    while IFS= read -r -d '' file; do
      # Only includes that name a folder of this tree count; system and
      # library headers (<...>, "tinyxml2.h") are below everything.
      while IFS=: read -r line included; do
        target=${included%%/*}
        [ -n "${rank[$target]+set}" ] || continue
        if [ "${rank[$target]}" -gt "$own" ]; then
          echo "${file#"$root"/}:$line: includes \"$included\" from $target/, above $folder/"
          status=1
        fi
      done < <(awk 'match($0, /^[ \t]*#[ \t]*include[ \t]*"[^"]*\/[^"]*"/) {
                      path = substr($0, RSTART, RLENGTH); sub(/^[^"]*"/, "", path); sub(/"$/, "", path)
                      print FNR ":" path }' "$file")
    done < <(find "$root/$folder" -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.in' -o -name '*.rc' \) -print0 | sort -z)
  done
done

if [ "$status" -ne 0 ]; then
  order=$(printf '%s -> ' "${layers[@]// //}")
  echo "check-layers: includes reach up (the order, lowest first: ${order% -> })" >&2
fi
exit "$status"
