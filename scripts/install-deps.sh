#!/usr/bin/env bash
# Installs what building, testing and running need on Debian 12.
set -euo pipefail
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends \
    cmake ninja-build g++ pkg-config git \
    qt6-base-dev qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools qt6-translations-l10n qt6-svg-dev libgl-dev \
    nlohmann-json3-dev zlib1g-dev libavcodec-dev libavformat-dev libavutil-dev libswscale-dev \
    libgtest-dev libbenchmark-dev clang-14 libclang-rt-14-dev \
    fonts-noto-cjk-extra fonttools xvfb xauth >/dev/null
