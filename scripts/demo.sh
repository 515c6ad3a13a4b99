#!/usr/bin/env bash
# Builds the programs and runs them on the bundled demo movie.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DQM_TESTS=OFF >/dev/null
cmake --build build --parallel "$(nproc)"
build/quellmark-cli info build/demo/demo.swf
