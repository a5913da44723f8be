#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian packages Rastrace needs to build, test and run, where
# they are missing. Needs root (or sudo) only when something is missing.
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

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq "${missing[@]}" >/dev/null
