#!/usr/bin/env bash
# Installs every Debian package Kestrel needs to build, test and run.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends \
  build-essential cmake ninja-build pkg-config git \
  clang lld libclang-rt-dev \
  libgtest-dev libgmock-dev googletest libbenchmark-dev libcli11-dev \
  qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev qt6-tools-dev \
  libqt6svg6-dev qt6-qpa-plugins \
  libudev-dev umockdev libumockdev-dev libsqlite3-dev \
  fonts-nanum xvfb xauth x11-utils \
  python3 valgrind time procps \
  dpkg-dev lintian bash-completion man-db groff-base
