#!/usr/bin/env bash
# Installs the Debian packages the project needs; packages already present are left alone.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git python3
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libcairo2-dev libjpeg-dev zlib1g-dev liblzma-dev libfontconfig-dev libfreetype-dev libsdl2-dev
  libavcodec-dev libavformat-dev libavutil-dev libavfilter-dev libswscale-dev
  libswresample-dev libavdevice-dev
  googletest libgtest-dev libgmock-dev
  ffmpeg xvfb xauth imagemagick
  fonts-liberation  # device text: same measures as the fonts movies name (Times New Roman, Arial)
  clang libclang-rt-dev  # fuzz/run.sh: libFuzzer
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
