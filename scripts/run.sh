#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds, and starts the Rastrace window.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  cat >&2 <<MSG
Rastrace is built, but this machine has no display to show its window on.
Run the window inside a virtual display:   xvfb-run -a build/app/rastrace
or convert on the command line, e.g.:
  build/rastrace-cli -c 4229316 -c 6333654 -x 150 -y 150 samples/board.bmp /tmp/board.asc
MSG
  exit 1
fi
exec build/app/rastrace
