#!/usr/bin/env bash
# Measures the release build and prints one table: the size of every release
# program and that each is signed and its signature verifies, start-up against
# a minimal dialog program, download throughput against curl, against a bare
# WinHTTP loop and against that loop writing the file, peak working set, a
# download cut at half against the same uncut (bytes sent, time, memory),
# eligibility cost per offer, loading with a late analytics host against one
# that answers at once and with a signed configuration answer against an
# unsigned one, the reference server's event rate under load, and the time
# and memory its HTML report takes over a million stored events.
# Each figure comes with its target and "met"
# or "MISSED". It is not a test: it exits 0 whatever the figures are, and 1
# only when a figure could not be measured at all.
#
#   bench/run.sh
#
# Runs in a Wine prefix, display and build folders of its own, so it can run
# beside tools/run-tests.sh. Environment: OSTREL_BENCH_STARTUP_RUNS (starts
# per program, the median counts; 9), OSTREL_BENCH_WINEPREFIX
# (build/bench-wineprefix), and those of bench/bench-downloads.sh,
# bench/bench-resume.sh, bench/bench-eligibility.sh, bench/bench-loading.sh, bench/server-events.sh and bench/report.sh (their build folders
# default to build/bench-x86_64 and build/bench-server here).
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"

startup_runs=${OSTREL_BENCH_STARTUP_RUNS:-9}
export WINEPREFIX=${OSTREL_BENCH_WINEPREFIX:-$repo/build/bench-wineprefix}
export OSTREL_BENCH_BUILD_DIR=${OSTREL_BENCH_BUILD_DIR:-$repo/build/bench-x86_64}
export OSTREL_BENCH_SERVER_DIR=${OSTREL_BENCH_SERVER_DIR:-$repo/build/bench-server}
# The benchmarks bring their own servers where they need any.
export OSTREL_START_SERVERS=0
# Two cores, and possibly a test run beside this one.
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2}
results=$repo/build/bench-results
mkdir -p "$results"

rows=()
failed=0
# figure | measured | compared with | ratio | target | result
add_row() { rows+=("$1|$2|$3|$4|$5|$6"); }
no_figure() {
  add_row "$1" "no figure" "" "" "$2" "FAILED"
  failed=1
}
# "met" when value OP limit holds (OP is <= or >=).
verdict() {
  awk -v value="$1" -v op="$2" -v limit="$3" \
    'BEGIN { ok = (op == "<=") ? value + 0 <= limit + 0 : value + 0 >= limit + 0; print ok ? "met" : "MISSED" }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# A throwaway code signing certificate, made for this run and never kept in
# the repository: the release programs are signed with it as a distributor's
# would be with its own.
signing=$repo/build/bench-signing
make_signing_certificate() {
  mkdir -p "$signing"
  openssl req -x509 -newkey rsa:2048 -nodes -days 7 -subj "/CN=Ostrel benchmark code signing" \
    -addext "extendedKeyUsage=codeSigning" -addext "keyUsage=critical,digitalSignature" \
    -keyout "$signing/key.pem" -out "$signing/cert.pem" >/dev/null 2>&1
}

build_release() {
  echo "== building the release programs (release-i686, release-x86_64), signed with a test certificate"
  make_signing_certificate
  local arch
  for arch in i686 x86_64; do
    cmake --preset "release-$arch" -DOSTREL_SIGN_CERT="$signing/cert.pem" -DOSTREL_SIGN_KEY="$signing/key.pem" >/dev/null
    cmake --build --preset "release-$arch"
  done
  cmake --build --preset release-x86_64 --target ostrel_startup_floor ostrel_startup_bench
}

# Both the version resource (type 16) and the manifest (type 24) sit in the
# top level of the program's resource directory.
has_version_and_manifest() {
  local types
  types=$("$1-w64-mingw32-objdump" -p "$2" | awk '/Resource Directory/,0' |
    sed -n 's/^[0-9a-f]\{3\}   Entry: ID: 0x0000\(10\|18\),.*/\1/p' | sort -u | tr -d '\n')
  [ "$types" = 1018 ]
}

measure_sizes() {
  local arch key exe bytes mib marked=0
  for arch in i686 x86_64; do
    for key in DLM ISV; do
      exe=build/release-$arch/bin/Ostrel$key.exe
      [ -f "$exe" ] || { no_figure "size Ostrel$key.exe ($arch)" ""; continue; }
      if has_version_and_manifest "$arch" "$exe"; then marked=$((marked + 1)); fi
      bytes=$(stat -c %s "$exe")
      mib=$(awk -v b="$bytes" 'BEGIN { printf "%.2f", b / 1048576 }')
      if [ "$arch$key" = i686DLM ]; then
        add_row "size Ostrel$key.exe ($arch, shipped)" "$mib MiB" "" "" "<= 1.00 MiB" "$(verdict "$bytes" '<=' 1048576)"
      else
        add_row "size Ostrel$key.exe ($arch)" "$mib MiB" "" "" "-" "-"
      fi
    done
  done
  add_row "release programs with version and manifest" "$marked of 4" "" "" "4 of 4" "$(verdict "$marked" '>=' 4)"
}

# Each release program carries an Authenticode signature that checks out
# against the certificate it was signed with.
measure_signatures() {
  local arch key exe verified=0
  for arch in i686 x86_64; do
    for key in DLM ISV; do
      exe=build/release-$arch/bin/Ostrel$key.exe
      if [ -f "$exe" ] && osslsigncode verify -CAfile "$signing/cert.pem" -in "$exe" >"$results/signature-$arch-$key.txt" 2>&1; then
        verified=$((verified + 1))
      fi
    done
  done
  add_row "release programs signed and verifiable" "$verified of 4" "" "" "4 of 4" "$(verdict "$verified" '>=' 4)"
}

# The driver starts the floor and both wizards in turns and prints one
# "startup exe=NAME median_ms=..." line per program.
run_startup_driver() {
  local bin=Z:$repo/build/release-x86_64/bin
  # shellcheck source=tools/test-env.sh
  source tools/test-env.sh start >&2
  trap 'tools/test-env.sh stop' EXIT
  /usr/lib/wine/wine64 "$bin/ostrel_startup_bench.exe" "$startup_runs" \
    "$bin/ostrel_startup_floor.exe" StartupFloor \
    "$bin/OstrelDLM.exe" LanguagePage \
    "$bin/OstrelISV.exe" LanguagePage
}

median_of() { sed -n "s/^startup exe=$1 median_ms=\([0-9.]*\) .*/\1/p" "$results/startup.txt"; }

measure_startup() {
  echo "== start-up: release x86_64 wizards against the floor, median of $startup_runs runs each"
  ( run_startup_driver ) | tr -d '\r' | tee "$results/startup.txt" || true
  local floor key ms
  floor=$(median_of ostrel_startup_floor.exe)
  for key in DLM ISV; do
    ms=$(median_of "Ostrel$key.exe")
    if [ -z "$floor" ] || [ -z "$ms" ]; then
      no_figure "start-up to painted language page, $key" "<= 1.50x floor"
      continue
    fi
    local times
    times=$(ratio "$ms" "$floor")
    add_row "start-up to painted language page, $key" "$ms ms" "floor $floor ms" "${times}x" "<= 1.50x" \
      "$(verdict "$times" '<=' 1.5)"
  done
}

measure_eligibility() {
  echo "== eligibility cost per offer (bench/bench-eligibility.sh)"
  # Exits non-zero when over its target; the figures decide here.
  bench/bench-eligibility.sh 2>&1 | tr -d '\r' | tee "$results/eligibility.txt" || true
  local lines offers ms linear
  lines=$(awk '$1 ~ /^[0-9]+$/ && NF >= 7 && $3 ~ /^[0-9.]+$/ { print $1, $3 }' "$results/eligibility.txt")
  [ -n "$lines" ] || no_figure "eligibility per offer" "<= 5 ms"
  while read -r offers ms; do
    [ -n "$offers" ] || continue
    add_row "eligibility per offer, $offers offers" "$ms ms" "" "" "<= 5 ms" "$(verdict "$ms" '<=' 5)"
  done <<<"$lines"
  # "cost per offer, 1000 offers against 250: 0.85 (1.00 is linear)"
  local growth
  growth=$(sed -n 's/^cost per offer, \([0-9]*\) offers against \([0-9]*\): \([0-9.]*\).*/\1 \2 \3/p' \
    "$results/eligibility.txt")
  if [ -z "$growth" ]; then
    no_figure "eligibility cost per offer, most vs fewest" "<= 1.50x (1.00x linear)"
    return
  fi
  local most fewest times
  read -r most fewest times <<<"$growth"
  add_row "eligibility cost per offer, most vs fewest" "$most offers" "$fewest offers" "${times}x" \
    "<= 1.50x (1.00x linear)" "$(verdict "$times" '<=' 1.5)"
}

# One row from a line "KEY base wizard ratio" of the download benchmark's
# output: FIGURE names it, UNIT goes with both figures, COMPARED names the
# base. TARGET is a minimum ratio (">= 0.95x"), or "-" for a figure without
# one, whose row is simply left out when the line is missing.
versus_row() {
  local key=$1 figure=$2 unit=$3 compared=$4 target=$5 line base wizard times
  line=$(awk -v s="$key" '$1 == s && $2 ~ /^[0-9.]+$/ { print $2, $3, $4 }' "$results/downloads.txt")
  if [ -z "$line" ]; then
    [ "$target" = "-" ] || no_figure "$figure" "$target"
    return 0
  fi
  read -r base wizard times <<<"$line"
  local result="-"
  [ "$target" = "-" ] || result=$(verdict "${times%x}" '>=' "$(echo "$target" | tr -dc '0-9.')")
  add_row "$figure" "$wizard $unit" "$compared $base $unit" "$times" "$target" "$result"
}

measure_downloads() {
  echo "== download throughput and peak working set (bench/bench-downloads.sh)"
  bench/bench-downloads.sh 2>&1 | tr -d '\r' | tee "$results/downloads.txt" || true
  local scheme line curl_rate wizard_rate times peak
  for scheme in https http; do
    line=$(awk -v s="$scheme" '$1 == s && $2 ~ /^[0-9.]+$/ { print $2, $3, $4, $5 }' "$results/downloads.txt")
    if [ -z "$line" ]; then
      no_figure "download $scheme throughput" ">= 0.80x curl"
      continue
    fi
    read -r curl_rate wizard_rate times peak <<<"$line"
    add_row "download $scheme throughput" "$wizard_rate MiB/s" "curl $curl_rate MiB/s" "$times" ">= 0.80x" \
      "$(verdict "${times%x}" '>=' 0.8)"
    add_row "download $scheme peak working set" "$peak MiB" "" "" "<= 32 MiB" "$(verdict "$peak" '<=' 32)"
  done
  local label suffix floor name
  for scheme in https http; do
    versus_row "sha256-$scheme" "download $scheme with SHA-256 against without" MiB/s without ">= 0.95x"
  done
  for floor in winhttp available written; do
    case $floor in
      winhttp) name="bare WinHTTP loop" ;;
      available) name="WinHTTP loop of available-sized reads" ;;
      written) name="that loop writing the file" ;;
    esac
    for suffix in "" -sha; do
      label=""
      [ -n "$suffix" ] && label=" with SHA-256"
      for scheme in https http; do
        versus_row "$floor-$scheme$suffix" "download $scheme$label against $name" MiB/s loop ">= 0.95x"
      done
    done
  done
  for suffix in "" -sha; do
    label=""
    [ -n "$suffix" ] && label=" with SHA-256"
    for scheme in https http; do
      versus_row "cpu-$scheme$suffix" "download $scheme$label CPU against available-read loop" s loop "-"
    done
  done
  local size rate
  for size in 8192 1048576; do
    rate=$(awk -v s="$size" '$1 == s && $2 == "bytes" && $3 == "per" { print $5 }' "$results/downloads.txt")
    [ -n "$rate" ] && add_row "Winsock http floor, $size B receives" "$rate MiB/s" "" "" "-" "-"
  done
}

measure_resume() {
  echo "== a download cut once at half against the same download uncut (bench/bench-resume.sh)"
  bench/bench-resume.sh 2>&1 | tr -d '\r' | tee "$results/resume.txt" || true
  local scheme line uncut cut times sent peak
  for scheme in https http; do
    line=$(awk -v s="resume-$scheme" '$1 == s && $2 ~ /^[0-9.]+$/ { print $2, $3, $4, $5, $6 }' "$results/resume.txt")
    if [ -z "$line" ]; then
      no_figure "download $scheme cut at half, bytes sent" "<= 1.01x the file"
      continue
    fi
    read -r uncut cut times sent peak <<<"$line"
    add_row "download $scheme cut at half, bytes sent" "${sent%x}x the file" "" "" "<= 1.01x" \
      "$(verdict "${sent%x}" '<=' 1.01)"
    add_row "download $scheme cut at half, time" "$cut s" "uncut $uncut s" "$times" "<= 1.15x" \
      "$(verdict "${times%x}" '<=' 1.15)"
    add_row "download $scheme cut at half, peak working set" "$peak MiB" "" "" "<= 32 MiB" "$(verdict "$peak" '<=' 32)"
  done
}

measure_server_events() {
  echo "== reference server: signed events from concurrent kept-alive HTTPS clients (bench/server-events.sh)"
  bench/server-events.sh 2>&1 | tee "$results/server-events.txt" || true
  local clients rate p50 p99 answered stored lost
  clients=$(awk '$1 == "clients" { print $2 }' "$results/server-events.txt")
  rate=$(awk '$1 == "events_per_second" { print $2 }' "$results/server-events.txt")
  p50=$(awk '$1 == "latency_p50_ms" { print $2 }' "$results/server-events.txt")
  p99=$(awk '$1 == "latency_p99_ms" { print $2 }' "$results/server-events.txt")
  answered=$(awk '$1 == "answered_200" { print $2 }' "$results/server-events.txt")
  stored=$(awk '$1 == "stored" { print $2 }' "$results/server-events.txt")
  lost=$(awk '$1 == "lost" { print $2 }' "$results/server-events.txt")
  if [ -z "$rate" ] || [ -z "$stored" ]; then
    no_figure "server events stored per second" ">= 2000/s"
    return
  fi
  add_row "server events stored per second" "$rate/s" "$clients clients" "" ">= 2000/s" "$(verdict "$rate" '>=' 2000)"
  add_row "server event latency p50 / p99" "$p50 / $p99 ms" "" "" "-" "-"
  # Answered 200 but not in the store, or stored without a 200: both count.
  add_row "server events lost" "${lost#-}" "$answered answered, $stored stored" "" "0" "$(verdict "${lost#-}" '<=' 0)"
  measure_server_events_postgres
}

# Two servers sharing one PostgreSQL store, from the same run of bench/server-events.sh.
measure_server_events_postgres() {
  local figures=$results/server-events.txt clients rate p50 p99 answered stored lost refused
  pg_figure() { awk -v key="$1" '$1 == key { print $2 }' "$figures"; }
  clients=$(pg_figure pg_clients)
  rate=$(pg_figure pg_events_per_second)
  stored=$(pg_figure pg_stored)
  if [ -z "$rate" ] || [ -z "$stored" ]; then
    no_figure "events per second, 2 servers, PostgreSQL" ">= 3000/s"
  else
    p50=$(pg_figure pg_latency_p50_ms)
    p99=$(pg_figure pg_latency_p99_ms)
    answered=$(pg_figure pg_answered_200)
    lost=$(pg_figure pg_lost)
    add_row "events per second, 2 servers, PostgreSQL" "$rate/s" "$clients clients" "" ">= 3000/s" \
      "$(verdict "$rate" '>=' 3000)"
    add_row "event latency p50 / p99, PostgreSQL" "$p50 / $p99 ms" "" "" "-" "-"
    add_row "events lost, PostgreSQL" "${lost#-}" "$answered answered, $stored stored" "" "0" \
      "$(verdict "${lost#-}" '<=' 0)"
  fi
  stored=$(pg_figure pgrestart_stored)
  if [ -z "$stored" ]; then
    no_figure "events lost, PostgreSQL restarted" "0"
    return
  fi
  answered=$(pg_figure pgrestart_answered_200)
  refused=$(pg_figure pgrestart_answered_503)
  lost=$(pg_figure pgrestart_lost)
  add_row "events lost, PostgreSQL restarted" "${lost#-}" "$answered answered, $refused 503, $stored stored" "" "0" \
    "$(verdict "${lost#-}" '<=' 0)"
}

measure_report() {
  echo "== reference server: the distributor's HTML report over 1,000,000 stored events (bench/report.sh)"
  bench/report.sh 2>&1 | tee "$results/report.txt" || true
  local seconds kib events mib
  seconds=$(awk '$1 == "report_seconds" { print $2 }' "$results/report.txt")
  kib=$(awk '$1 == "report_peak_kib" { print $2 }' "$results/report.txt")
  events=$(awk '$1 == "report_events" { print $2 }' "$results/report.txt")
  if [ -z "$seconds" ] || [ -z "$kib" ]; then
    no_figure "report --html over 1,000,000 events" "<= 5 s"
    return
  fi
  mib=$(awk -v k="$kib" 'BEGIN { printf "%.1f", k / 1024 }')
  add_row "report --html over 1,000,000 events" "$seconds s" "$events events" "" "<= 5 s" \
    "$(verdict "$seconds" '<=' 5)"
  add_row "report --html peak memory" "$mib MiB" "" "" "<= 200 MiB" "$(verdict "$mib" '<=' 200)"
}

measure_loading() {
  echo "== loading with a late analytics host (bench/bench-loading.sh)"
  bench/bench-loading.sh 2>&1 | tr -d '\r' | tee "$results/loading.txt" || true
  local at_once late times
  at_once=$(sed -n 's/^loading analytics=at-once median_ms=\([0-9.]*\)$/\1/p' "$results/loading.txt")
  late=$(sed -n 's/^loading analytics=late-[0-9]*ms median_ms=\([0-9.]*\)$/\1/p' "$results/loading.txt")
  if [ -z "$at_once" ] || [ -z "$late" ]; then
    no_figure "loading to welcome, analytics 300 ms late" "<= 1.10x"
    return
  fi
  times=$(ratio "$late" "$at_once")
  add_row "loading to welcome, analytics 300 ms late" "$late ms" "at once $at_once ms" "${times}x" "<= 1.10x" \
    "$(verdict "$times" '<=' 1.1)"
  local signed
  signed=$(sed -n 's/^loading signed median_ms=\([0-9.]*\)$/\1/p' "$results/loading.txt")
  if [ -z "$signed" ]; then
    no_figure "loading to welcome, signed configuration answer" "<= 1.05x"
    return
  fi
  times=$(ratio "$signed" "$at_once")
  add_row "loading to welcome, signed configuration answer" "$signed ms" "unsigned $at_once ms" "${times}x" \
    "<= 1.05x" "$(verdict "$times" '<=' 1.05)"
}

print_table() {
  local format='%-42s %12s %-28s %7s %-22s %s\n' row
  echo
  echo "== Ostrel benchmarks ($(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores)"
  # shellcheck disable=SC2059
  printf "$format" figure measured "compared with" ratio target result
  for row in "${rows[@]}"; do
    IFS='|' read -r figure measured against times target result <<<"$row"
    # shellcheck disable=SC2059
    printf "$format" "$figure" "$measured" "$against" "$times" "$target" "$result"
  done
}

[ -d build/deps ] || tools/setup-deps.sh
build_release
measure_sizes
measure_signatures
measure_startup
measure_eligibility
measure_downloads
measure_resume
measure_loading
measure_server_events
measure_report
print_table | tee "$results/table.txt"
exit $failed
