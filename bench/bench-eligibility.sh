#!/usr/bin/env bash
# Times the eligibility engine under Wine: 250, 500 and 1000 offers (or the
# counts given), each evaluated by one engine; prints the time per offer and
# how often each hive's Software key was listed. Exits non-zero when a listing
# repeats within one engine or an offer takes more than 5 ms on average.
#
#   bench/bench-eligibility.sh [offers ...]
#
# Builds the 64-bit build (build/x86_64, or OSTREL_BENCH_BUILD_DIR) and runs
# in the test prefix prepared by tools/test-env.sh.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"

build=${OSTREL_BENCH_BUILD_DIR:-$repo/build/x86_64}
[ -d build/deps ] || tools/setup-deps.sh
cmake --preset x86_64 -B "$build" >/dev/null
cmake --build "$build" --target ostrel_eligibility_bench

# shellcheck source=tools/test-env.sh
source tools/test-env.sh start
trap 'tools/test-env.sh stop' EXIT
tools/wine-run.sh "$build/bin/ostrel_eligibility_bench.exe" "$@"
