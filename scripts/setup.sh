#!/usr/bin/env bash
# Installs the Debian packages Kestrel needs to build, test and run: what scripts/test.sh and
# scripts/demo.sh use. ccache keeps compiler output between builds and runs. The tests also
# need a locale with decimal commas (de_DE.UTF-8), made here, and tzdata's time zones, and
# PostgreSQL's server programs for the throwaway servers of tests/support/pg_server.h.
#   scripts/setup.sh                  build, test and run
#   scripts/setup.sh --screenshots    also the X server the screenshot programs run under
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config git ccache
  clang libclang-rt-dev
  libgtest-dev googletest libcli11-dev
  qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev libqt6svg6-dev
  libudev-dev umockdev libumockdev-dev libsqlite3-dev nlohmann-json3-dev
  libpq-dev postgresql
  fonts-nanum python3 locales tzdata
  dpkg-dev lintian bash-completion man-db groff-base
)
for arg in "$@"; do
  case "$arg" in
    --screenshots) packages+=(xvfb xauth) ;;
    *) echo "usage: scripts/setup.sh [--screenshots]" >&2; exit 2 ;;
  esac
done
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends "${packages[@]}"
# A locale that writes decimal commas, for the tests that numbers in JSON never do.
$SUDO localedef -i de_DE -f UTF-8 de_DE.UTF-8
