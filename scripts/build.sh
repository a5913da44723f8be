#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Configures and builds Rastrace in build/ (Release): the window program
# build/app/rastrace, the command line build/rastrace-cli, tests and benchmarks.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
cmake --build build -j "$(nproc)"
