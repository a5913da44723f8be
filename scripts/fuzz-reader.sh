#!/usr/bin/env bash
# Builds the bitmap reader's libFuzzer target in build-fuzz/ and runs it for
# a bounded time (default 60 seconds; the first argument overrides), seeded
# with the BMP suite beside the checkout when it is there. Exits non-zero on
# any finding; the input that caused it is kept in build-fuzz/artifacts/.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-60}"
build="$repo/build-fuzz"
suite="$repo/../shared/bmpsuite"

cmake -S "$repo" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DRASTRACE_BUILD_FUZZ=ON -DRASTRACE_BUILD_UI=OFF -DRASTRACE_BUILD_TESTS=OFF -DRASTRACE_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target fuzz_bmpreader -j2

corpus="$(mktemp -d "${TMPDIR:-/tmp}/rastrace-fuzz-corpus.XXXXXX")"
trap 'rm -rf "$corpus"' EXIT
if [ -d "$suite" ]; then
  for folder in g q b; do
    cp "$suite/$folder"/*.bmp "$corpus"/ 2>/dev/null || true
  done
  echo "Seed corpus: $(ls "$corpus" | wc -l) files from $suite"
else
  echo "BMP suite not found at $suite: skipping the seed corpus, starting from nothing"
fi

artifacts="$build/artifacts"
mkdir -p "$artifacts"
status=0
"$build/fuzz/fuzz_bmpreader" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
  -artifact_prefix="$artifacts/" -print_final_stats=1 "$corpus" || status=$?
if [ "$status" -ne 0 ]; then
  echo "fuzz-reader: finding (exit $status); inputs in $artifacts" >&2
  exit "$status"
fi
echo "fuzz-reader: no findings in ${seconds} s"
