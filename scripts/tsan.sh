#!/usr/bin/env bash
# Builds the threaded parts of the program with ThreadSanitizer and runs their tests: the
# engine, the audio capture, the player, the conversion (capture, offline capture, merge run)
# and the conversion windows. Slow (the tests run several times slower under the sanitizer),
# so it is kept apart from scripts/test.sh.
#
#   scripts/tsan.sh                  build and run every program of the set
#   scripts/tsan.sh test_engine ...  only these programs
#   GTEST_FILTER=Suite.* scripts/tsan.sh test_conversion
#
# Every report goes to build-tsan/tsan-logs/<program>.log; the run fails when a test fails or
# ThreadSanitizer reports anything that scripts/tsan.supp does not name.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=build-tsan
programs=("$@")
[ ${#programs[@]} -gt 0 ] || programs=(test_engine test_audio test_player test_conversion test_conversion_windows)

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
# The build runs programs of its own (the skin and catalogue writers): they read the same
# suppressions.
# history_size: a longer memory of earlier accesses, so both sides of a race are shown.
export TSAN_OPTIONS="suppressions=$root/scripts/tsan.supp halt_on_error=0 second_deadlock_stack=1 history_size=4 ${TSAN_OPTIONS:-}"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQM_TSAN=ON -DQM_SANITIZE=OFF \
  -DQM_TESTS=ON "${launcher[@]}" >/dev/null
cmake --build "$build" --parallel "${QM_JOBS:-$(nproc)}" --target "${programs[@]}"

export QT_QPA_PLATFORM=offscreen
mkdir -p "$build/tsan-logs"
failed=0
for program in "${programs[@]}"; do
  log="$build/tsan-logs/$program.log"
  echo "== $program"
  status=0
  (cd "$build/tests" && "$root/$build/$program") >"$log" 2>&1 || status=$?
  reports=$(grep -c '^WARNING: ThreadSanitizer' "$log" || true)
  tests=$(grep -E '^\[  (PASSED|FAILED)  \]' "$log" | tr '\n' ' ' || true)
  echo "   exit $status, $reports ThreadSanitizer reports; $tests"
  if [ "$status" -ne 0 ] || [ "$reports" -ne 0 ]; then
    failed=1
    echo "   see $log"
  fi
done
exit $failed
