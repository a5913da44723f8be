#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test:
#   1. the Release build: every unit test, the command line and the window (offscreen);
#   2. the reader, scanner and formats tests under AddressSanitizer and UndefinedBehaviorSanitizer;
#   3. the conversion job tests under ThreadSanitizer;
#   4. the BMP reader fuzzer for a bounded time on the BMP suite.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
fuzz_seconds=${RASTRACE_FUZZ_SECONDS:-60}

scripts/install-deps.sh

step() { printf '\n== %s\n' "$*"; }

step "Release build and all tests"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$jobs"
QT_QPA_PLATFORM=offscreen ctest --test-dir build --output-on-failure -j "$jobs"

step "Reader, scanner and formats under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRASTRACE_SANITIZE=address,undefined \
  -DRASTRACE_BUILD_UI=OFF -DRASTRACE_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j "$jobs"
ctest --test-dir build-asan --output-on-failure -j "$jobs" -L 'reader|cli'

step "Conversion job under ThreadSanitizer"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRASTRACE_SANITIZE=thread \
  -DRASTRACE_BUILD_UI=OFF -DRASTRACE_BUILD_BENCH=OFF >/dev/null
cmake --build build-tsan -j "$jobs"
TSAN_OPTIONS="halt_on_error=1" ctest --test-dir build-tsan --output-on-failure -j "$jobs" -L job

step "BMP reader fuzzer (${fuzz_seconds} s)"
scripts/fuzz-reader.sh "$fuzz_seconds"

step "All tests passed"
