#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the libFuzzer targets in build-fuzz/ and runs each for its share of
# a bounded total time (default 120 seconds; the first argument overrides):
# the BMP reader 35 %, the PNG, TIFF and JPEG readers 15 % each, the
# settings file's INI text and the command-line options 10 % each. Each starts from the project's own seeds in
# fuzz/corpus/ (scripts/make-fuzz-seeds.sh writes them); the reader also
# from the BMP suite beside the checkout when it is there ($RASTRACE_BMPSUITE
# names another folder). Reports every target's seed count and coverage
# (libFuzzer's "cov", the code edges reached) after the seeds and at the end.
# Each input may take at most 2 seconds and the target at most 2048 MB
# (address sanitizer's own memory included): a slow or greedy input is a
# finding like a crash. Exits non-zero on any finding; the input that
# caused it is kept in build-fuzz/artifacts/.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
total="${1:-120}"
build="$repo/build-fuzz"
suite="${RASTRACE_BMPSUITE:-$repo/../shared/bmpsuite}"

cmake -S "$repo" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DRASTRACE_BUILD_FUZZ=ON -DRASTRACE_BUILD_UI=OFF -DRASTRACE_BUILD_TESTS=OFF -DRASTRACE_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target fuzz_bmpreader fuzz_pngreader fuzz_tiffreader fuzz_jpegreader \
  fuzz_inifile fuzz_cli_options -j2 >/dev/null

work="$(mktemp -d "${TMPDIR:-/tmp}/rastrace-fuzz.XXXXXX")"
trap 'rm -rf "$work"' EXIT
artifacts="$build/artifacts"
mkdir -p "$artifacts"

bmp_seeds=("$repo/fuzz/corpus/bmp")
if [ -d "$suite" ]; then
  for folder in g q b; do [ -d "$suite/$folder" ] && bmp_seeds+=("$suite/$folder"); done
  echo "BMP suite: $suite"
else
  echo "BMP suite not found at $suite: the reader starts from the project's seeds alone"
fi

# run TARGET SECONDS SEED_FOLDER...: new inputs go to a scratch folder, the
# seed folders are only read.
summary=()
run() {
  local target=$1 seconds=$2
  shift 2
  local log="$work/$target.log" seeds status=0
  seeds=$(find "$@" -maxdepth 1 -type f | wc -l)
  mkdir -p "$work/$target"
  "$build/fuzz/$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=2 \
    -artifact_prefix="$artifacts/$target-" -print_final_stats=1 "$work/$target" "$@" >"$log" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$log" >&2
    echo "fuzz: $target found a fault (exit $status); the input is in $artifacts" >&2
    exit "$status"
  fi
  local start end runs
  start=$(grep -m1 -o 'INITED cov: [0-9]*' "$log" | grep -o '[0-9]*$' || echo '?')
  end=$(grep -o 'cov: [0-9]*' "$log" | tail -n1 | grep -o '[0-9]*$' || echo '?')
  runs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | grep -o '[0-9]*$' || echo '?')
  summary+=("$(printf '%-17s %5s seeds  coverage %5s after the seeds, %5s after %3s s (%s runs)' \
    "$target" "$seeds" "$start" "$end" "$seconds" "$runs")")
}

bmp_seconds=$((total * 35 / 100))
picture_seconds=$((total * 15 / 100))
text_seconds=$(((total - bmp_seconds - 3 * picture_seconds) / 2))
run fuzz_bmpreader "$bmp_seconds" "${bmp_seeds[@]}"
for kind in png tiff jpeg; do
  run "fuzz_${kind}reader" "$picture_seconds" "$repo/fuzz/corpus/$kind"
done
run fuzz_inifile "$text_seconds" "$repo/fuzz/corpus/ini"
run fuzz_cli_options "$((total - bmp_seconds - 3 * picture_seconds - text_seconds))" "$repo/fuzz/corpus/cli"

printf '%s\n' "${summary[@]}"
echo "fuzz: no findings in ${total} s"
