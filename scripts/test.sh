#!/usr/bin/env bash
# Builds everything with the sanitizers and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQM_SANITIZE=ON -DQM_TESTS=ON >/dev/null
cmake --build build-test --parallel "$(nproc)"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cd build-test
ctest --output-on-failure --parallel "$(nproc)" --timeout 600
