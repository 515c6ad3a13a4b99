#!/usr/bin/env bash
# Builds the programs and converts the bundled demo movie to MP4 (the default profile); prints the
# path of the video it made.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DQM_TESTS=OFF >/dev/null
cmake --build build --parallel "$(nproc)"
build/quellmark-cli info build/demo/demo.swf
build/quellmark-cli convert build/demo/demo.swf --output-dir build/demo --overwrite
