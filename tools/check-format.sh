#!/usr/bin/env bash
# Fails when a C++ source of the repository differs from what clang-format
# makes of it under the repository's .clang-format files (the reference
# servers keep their own, in server/). Names each file that differs.
#
#   tools/check-format.sh          check every tracked .cpp and .h
#   tools/check-format.sh --fix    rewrite them in place instead
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"

command -v clang-format >/dev/null || { echo "check-format: clang-format is not installed" >&2; exit 2; }
mapfile -t sources < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = --fix ]; then
  clang-format -i "${sources[@]}"
  exit 0
fi
status=0
for file in "${sources[@]}"; do
  if ! clang-format "$file" | cmp -s - "$file"; then
    echo "$file: not in the house format (tools/check-format.sh --fix rewrites it)"
    status=1
  fi
done
exit "$status"
