#!/usr/bin/env bash
# Builds the Debian package of both programs (cpack) and prints its path.
# Usage: scripts/package.sh [BUILD_DIR]   (default: build-package)
# Install it with: apt-get install ./quellmark_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-package}
bash scripts/install-deps.sh
# dpkg-shlibdeps names the libraries the programs link.
if ! command -v dpkg-shlibdeps >/dev/null; then
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends dpkg-dev
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQM_TESTS=OFF \
      -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
# Only what the package holds; the demo programs and tools stay unbuilt.
cmake --build "$build" --parallel "${QM_JOBS:-$(nproc)}" --target \
      quellmark quellmark-cli qm_format_data qm_skin_pictures qm_help_pages qm_app_icon demo_movie
(cd "$build" && cpack -G DEB >/dev/null)
ls "$PWD/$build"/quellmark_*.deb
