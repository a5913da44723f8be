#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian packages Rastrace needs to build, test and run, where
# they are missing; with --test also KiCad, which the tests load our boards
# into. Needs root (or sudo) only when something is missing.
set -euo pipefail

packages=(
  g++ cmake make pkg-config zlib1g-dev
  libpng-dev libtiff-dev libjpeg62-turbo-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-svg-dev libqt6svg6 qt6-qpa-plugins
  qt6-tools-dev qt6-l10n-tools
  fonts-arphic-uming
  clang libclang-rt-14-dev libfuzzer-14-dev
  xvfb xauth imagemagick xdotool time
  gerbv libeigen3-dev
  help2man dpkg-dev file lintian openbox wmctrl
)

# KiCad reads our boards back in the tests (its pcbnew module). Without its
# recommended libraries of parts and 3D models it is a few hundred MB; where
# it cannot be installed, the tests that need it skip with a message.
# Only for the tests: scripts/install-deps.sh --test.
optional=()
if [ "${1:-}" = "--test" ]; then optional=(kicad); fi

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
missing_optional=()
for p in "${optional[@]+"${optional[@]}"}"; do
  installed "$p" || missing_optional+=("$p")
done

if [ ${#missing[@]} -eq 0 ] && [ ${#missing_optional[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi
if [ ${#missing_optional[@]} -gt 0 ]; then
  echo "Installing: ${missing_optional[*]} (without recommends)"
  $sudo apt-get install -y -qq --no-install-recommends "${missing_optional[@]}" >/dev/null ||
    echo "Could not install ${missing_optional[*]}: the tests that load boards into KiCad will skip"
fi
