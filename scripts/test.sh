#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds, and runs every test:
#   1. the Release build: every unit test, the command line and the window (offscreen);
#   2. the reader, scanner, formats, command-line and settings tests under AddressSanitizer and
#      UndefinedBehaviorSanitizer (the core and rastrace-cli instrumented, the tests' own code not);
#   3. the conversion job tests under ThreadSanitizer;
#   4. the fuzzers (BMP, PNG, TIFF and JPEG readers, settings file, command-line options) for a bounded total time,
#      from the project's seeds and the BMP suite where it is present;
#   5. the Debian package: built, its contents listed and checked, lintian.
# Every stage runs with TMPDIR at a fresh folder that must be empty again
# when it ends: a test that leaves a file behind fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
fuzz_seconds=${RASTRACE_FUZZ_SECONDS:-90}

scripts/install-deps.sh --test

# The sanitizer builds optimise less than a release: they compile a good deal
# faster, and their reports still name every line.
sanitize_flags="-O1 -g -DNDEBUG"
started=$SECONDS
step() { printf '\n== %s (%d s in)\n' "$*" $((SECONDS - started)); }

scratch=$(mktemp -d "${TMPDIR:-/tmp}/rastrace-test-tmp.XXXXXX")
runtime=$(mktemp -d "${TMPDIR:-/tmp}/rastrace-test-runtime.XXXXXX")  # Qt's, where none is set
trap 'rm -rf "$scratch" "$runtime"' EXIT

# Runs the command, then checks that it left nothing in the temporary folder.
clean_run() {
  TMPDIR="$scratch" XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$runtime}" "$@"
  local left
  left=$(find "$scratch" -mindepth 1 -maxdepth 1)
  if [ -n "$left" ]; then
    printf 'The tests left these in the temporary folder:\n%s\n' "$left" >&2
    exit 1
  fi
}

step "Release build and all tests"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$jobs"
QT_QPA_PLATFORM=offscreen clean_run ctest --test-dir build --output-on-failure -j "$jobs"

step "Reader, scanner, formats, command line and settings under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=$sanitize_flags" \
  -DRASTRACE_SANITIZE=address,undefined -DRASTRACE_SANITIZE_TESTS=OFF \
  -DRASTRACE_BUILD_UI=OFF -DRASTRACE_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j "$jobs" --target tests_reader tests_cli tests_settings
clean_run ctest --test-dir build-asan --output-on-failure -j "$jobs" -L 'reader|cli|settings'

step "Conversion job under ThreadSanitizer"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=$sanitize_flags" \
  -DRASTRACE_SANITIZE=thread \
  -DRASTRACE_BUILD_UI=OFF -DRASTRACE_BUILD_BENCH=OFF >/dev/null
cmake --build build-tsan -j "$jobs" --target tests_job
TSAN_OPTIONS="halt_on_error=1" clean_run ctest --test-dir build-tsan --output-on-failure -j "$jobs" -L job

step "Fuzzers: BMP, PNG, TIFF and JPEG readers, settings file, command-line options (${fuzz_seconds} s in all)"
clean_run scripts/fuzz.sh "$fuzz_seconds"

step "Debian package"
clean_run scripts/test-package.sh build

step "All tests passed"
