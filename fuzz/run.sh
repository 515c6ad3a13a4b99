#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a given time.
#
#   fuzz/run.sh [SECONDS_PER_TARGET] [TARGET...]
#
# SECONDS_PER_TARGET defaults to 60; TARGET names (fuzz_header_reader, fuzz_movie_parser,
# fuzz_avm1, fuzz_engine_options, fuzz_ini_file, fuzz_catalogue_file) default to all of them.
# Environment:
#   QM_FUZZ_BUILD   build folder (default build-fuzz in the checkout)
#   QM_FUZZ_JOBS    targets run at once (default 1)
#   QM_FUZZ_MOVIES  a folder of .swf movies read as extra inputs by the two movie fuzzers
#   QM_FUZZ_RSS_MB  memory limit per fuzzer in MiB (default 2048)
# Each target keeps its corpus in BUILD/corpus/TARGET (so later runs go on from earlier ones)
# and writes what it finds (crash-*, leak-*, timeout-*, oom-*) to BUILD/findings/TARGET/.
# The exit status is 1 when anything was found.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
shift || true
all=(fuzz_header_reader fuzz_movie_parser fuzz_avm1 fuzz_engine_options fuzz_ini_file fuzz_catalogue_file)
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all[@]}")
build="${QM_FUZZ_BUILD:-build-fuzz}"
jobs="${QM_FUZZ_JOBS:-1}"
rss="${QM_FUZZ_RSS_MB:-2048}"

if ! [[ "$seconds" =~ ^[0-9]+$ ]]; then
  echo "usage: fuzz/run.sh [SECONDS_PER_TARGET] [TARGET...]" >&2
  exit 2
fi
for t in "${targets[@]}"; do
  if [[ ! " ${all[*]} " == *" $t "* ]]; then
    echo "unknown target: $t (one of: ${all[*]})" >&2
    exit 2
  fi
done
if ! command -v clang++ >/dev/null; then
  echo "clang++ is missing: run scripts/install-deps.sh" >&2
  exit 2
fi

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DQM_FUZZ=ON -DQM_TESTS=OFF \
  "${launcher[@]}" >/dev/null
cmake --build "$build" --target qm_fuzz --parallel "${QM_FUZZ_BUILD_JOBS:-2}"

rm -rf "$build/seeds"
"$build/fuzz/qm_fuzz_seeds" "$build/seeds"

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export QT_QPA_PLATFORM=offscreen

run_one() {
  local t="$1"
  local corpus="$build/corpus/$t" findings="$build/findings/$t" log="$build/logs/$t.log"
  mkdir -p "$corpus" "$findings" "$build/logs"
  local inputs=("$corpus" "$build/seeds/$t")
  if [ -n "${QM_FUZZ_MOVIES:-}" ] && { [ "$t" = fuzz_movie_parser ] || [ "$t" = fuzz_header_reader ]; }; then
    inputs+=("$QM_FUZZ_MOVIES")
  fi
  # -timeout: an input that runs longer than 5 s is a hang; -rss_limit_mb: the memory limit.
  local start=$SECONDS
  "$build/fuzz/$t" -max_total_time="$seconds" -timeout=5 -rss_limit_mb="$rss" \
    -print_final_stats=1 -artifact_prefix="$findings/" "${inputs[@]}" >"$log" 2>&1 || true
  # The time it ran: a finding stops a fuzzer before its time is up.
  echo $((SECONDS - start)) >"$build/logs/$t.seconds"
}

summary() {
  local t="$1" log="$build/logs/$1.log"
  local runs speed added rss found ran
  ran=$(cat "$build/logs/$t.seconds" 2>/dev/null || echo '?')
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  added=$(sed -n 's/^stat::new_units_added: *//p' "$log" | tail -1)
  rss=$(sed -n 's/^stat::peak_rss_mb: *//p' "$log" | tail -1)
  found=$(find "$build/findings/$t" -type f -newer "$build/logs/.start" | sort)
  printf '%-22s %6ss %10s runs %8s exec/s %6s new inputs %6s MiB peak\n' \
    "$t" "$ran" "${runs:-?}" "${speed:-?}" "${added:-?}" "${rss:-?}"
  if [ -n "$found" ]; then
    echo "  FOUND:"
    sed 's/^/    /' <<<"$found"
    grep -m3 -E 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:|fault:' "$log" | sed 's/^/    /' || true
    echo "    log: $log"
    return 1
  fi
  if [ -z "$runs" ]; then
    echo "  the fuzzer did not finish; log: $log"
    return 1
  fi
}

mkdir -p "$build/logs"
touch "$build/logs/.start"
echo "Running ${#targets[@]} target(s) for ${seconds} s each, ${jobs} at a time"
running=0
for t in "${targets[@]}"; do
  run_one "$t" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n || true
    running=$((running - 1))
  fi
done
wait

status=0
for t in "${targets[@]}"; do
  summary "$t" || status=1
done
exit $status
