#!/usr/bin/env bash
# Times the download wizard from Next on its language page to its painted
# welcome page, with a configuration of 20 offers of which the rules turn 10
# down (each rejection is an analytics event), once against an analytics host
# that answers at once and once against one that answers after 300 ms. The
# two kinds of run take turns; prints the median of each and their ratio. The
# target: at most 1.10x, loading does not wait for analytics. A third kind
# runs a wizard built with a configuration signing key (OSTREL_CONFIG_KEY; a
# throwaway key pair under the build folder) against the same server, which
# signs every answer: its median against the unsigned wizard's, target at
# most 1.05x. Prints figures;
# it is not a test and exits 0 whatever they are (non-zero only when a run
# fails).
#
#   bench/bench-loading.sh
#
# Environment: OSTREL_BENCH_LOADING_ADDRESS (loopback address of its own
# server, which the wizard is built to use as its host; 127.0.0.21),
# OSTREL_BENCH_LOADING_RUNS (runs of each kind; 9), OSTREL_BENCH_BUILD_DIR
# (build/bench-x86_64: never the tests' build, whose host is 127.0.0.1),
# OSTREL_BENCH_SERVER_DIR (build/server), WINEPREFIX (the test prefix).
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"

address=${OSTREL_BENCH_LOADING_ADDRESS:-127.0.0.21}
runs=${OSTREL_BENCH_LOADING_RUNS:-9}
build=${OSTREL_BENCH_BUILD_DIR:-$repo/build/bench-x86_64}
server_build=${OSTREL_BENCH_SERVER_DIR:-$repo/build/server}
late_ms=300

if [ "$(realpath -m "$build")" = "$(realpath -m "$repo/build/x86_64")" ]; then
  echo "bench-loading: the wizard is built for $address here; use a build folder other than the tests' own" >&2
  exit 2
fi

[ -d build/deps ] || tools/setup-deps.sh
cmake --preset x86_64 -B "$build" -DOSTREL_DISTRIBUTION_HOST="$address" >/dev/null
cmake --build "$build" --target OstrelDLM ostrel_loading_bench ostrel_trust_ca
cmake -S server -B "$server_build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$server_build" --target ostrel-server
# Made once and kept, so the signed wizard is not rebuilt on every run.
signing_key=$build-config-key
[ -f "$signing_key/config-signing.key" ] || "$server_build/ostrel-server" keygen --out "$signing_key" >/dev/null
signed_build=$build-signed
cmake --preset x86_64 -B "$signed_build" -DOSTREL_DISTRIBUTION_HOST="$address" \
  -DOSTREL_CONFIG_KEY="$signing_key/config-signing.pub" -DOSTREL_BUILD_TESTS=OFF >/dev/null
cmake --build "$signed_build" --target OstrelDLM

# shellcheck source=bench/bench-server.sh
source bench/bench-server.sh
bench_begin ostrel-bench-loading

# Offers 1-10 are kept, one per category; each of 11-20 shares a category
# with one of them and is turned down. Every offer has a picture.
mkdir -p "$work/data/configs" "$work/data/files/img"
cp resources/images/finished.png "$work/data/files/img/offer.png"
cp resources/images/download.png "$work/data/files/product.png"
{
  printf '{"i":{"ct":"Kestrel Viewer","cu":"https://%s/f/kestrel.exe","cl":"https://%s/f/product.png"},' "$address" "$address"
  printf '"f":{"m":20},"o":['
  for n in $(seq 1 20); do
    [ "$n" -gt 1 ] && printf ','
    printf '{"ad":{"f":"tag-%d","o":"bench-%d"},"ps":{"i":"img/offer.png","dn":"Offer %d","u":"o%d.exe","v":%d}}' \
      "$n" "$n" "$n" "$n" $(((n - 1) % 10 + 1))
  done
  printf ']}\n'
} >"$work/data/configs/default.json"

# The control interface, which sets the analytics host's delay, answers only
# with the token the server writes at start.
bench_start_server "$address" "$work" "$server_build/ostrel-server" --quiet --control-token-file "$work/control-token" \
  --signing-key "$signing_key/config-signing.key"
/usr/lib/wine/wine64 "$build/bin/ostrel_trust_ca.exe" "$work/ca/ca.der"

control() {
  curl -sS --fail --cacert "$work/ca/ca.pem" -H "X-Control-Token: $(cat "$work/control-token")" "$@" >/dev/null
}
answer_events_at_once() { control -X POST -d '{"path":"/zbd"}' "https://$address/_test/faults"; }
answer_events_late() {
  control -X POST -d "{\"path\":\"/zbd\",\"delayMs\":$late_ms,\"count\":1000}" "https://$address/_test/faults"
}

# One counted run (after one that warms up); prints its milliseconds.
time_one() {
  local wizard=${1:-$build}/bin/OstrelDLM.exe
  /usr/lib/wine/wine64 "$build/bin/ostrel_loading_bench.exe" 1 "Z:$wizard" | tr -d '\r' |
    sed -n 's/^loading run=1 ms=\([0-9.]*\)$/\1/p'
}
median() { sort -n | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.1f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

: >"$work/at-once.txt"
: >"$work/late.txt"
: >"$work/signed.txt"
echo "== Next on the language page to the painted welcome page: 20 offers, 10 turned down, $runs runs each"
for round in $(seq 1 "$runs"); do
  # Turns rotate which kind goes first.
  kinds=(at-once late signed)
  for turn in 0 1 2; do
    kind=${kinds[$(((turn + round) % 3))]}
    if [ "$kind" = late ]; then answer_events_late; else answer_events_at_once; fi
    if [ "$kind" = signed ]; then ms=$(time_one "$signed_build"); else ms=$(time_one); fi
    [ -n "$ms" ] || { echo "run $round ($kind) failed" >&2; exit 1; }
    echo "$ms" >>"$work/$kind.txt"
    printf 'round %d  analytics %-8s %8s ms\n' "$round" "$kind" "$ms"
  done
done
at_once=$(median <"$work/at-once.txt")
late=$(median <"$work/late.txt")
ratio=$(awk -v a="$late" -v b="$at_once" 'BEGIN { printf "%.2f", a / b }')
echo "loading analytics=at-once median_ms=$at_once"
echo "loading analytics=late-${late_ms}ms median_ms=$late"
echo "loading ratio=${ratio}x (target: at most 1.10x)"
signed=$(median <"$work/signed.txt")
signed_ratio=$(awk -v a="$signed" -v b="$at_once" 'BEGIN { printf "%.2f", a / b }')
echo "loading signed median_ms=$signed"
echo "loading signed-ratio=${signed_ratio}x (target: at most 1.05x)"
