#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Regenerates the sample scan samples/board.bmp with the project's own board
# generator. The picture is a pure function of the options below, so running
# this again gives the same bytes.
#
#   scripts/make-samples.sh [build-dir]      (default: build)
#
# Builds the generator in build-dir first (configuring a Release build there
# if the directory holds none yet).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${1:-$ROOT/build}

if [[ ! -f $BUILD/CMakeCache.txt ]]; then
  cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DRASTRACE_BUILD_UI=OFF -DRASTRACE_BUILD_TESTS=OFF
fi
make -C "$BUILD" -j2 rastrace-boardgen

# 600 x 400 pixels drawn at 150 dpi: a 4 x 2.67 inch board, clean edges.
"$BUILD/bench/rastrace-boardgen" --width 600 --height 400 --dpi 150 --seed 1 --no-noise "$ROOT/samples/board.bmp"
echo "wrote $ROOT/samples/board.bmp"
