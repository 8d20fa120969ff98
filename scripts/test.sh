#!/usr/bin/env bash
# Installs what is missing, builds from scratch and runs every test twice:
# with warnings as errors, and under AddressSanitizer and
# UndefinedBehaviorSanitizer. Then runs each fuzzing target for a minute
# (FUZZ_SECONDS) from the seeds in fuzz/corpus.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
for preset in ci asan; do
  echo "== $preset"
  rm -rf "build-$preset"
  cmake --preset "$preset"
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done

# The seeds are only read; what the fuzzers add goes to a scratch directory,
# and an input that fails is kept as build-fuzz/<target>-crash-... .
echo "== fuzz"
rm -rf build-fuzz
cmake --preset fuzz
cmake --build --preset fuzz
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
for target in walk expand tool; do
  mkdir "$corpus/$target"
  "build-fuzz/bin/${target}_fuzzer" -max_total_time="${FUZZ_SECONDS:-60}" -timeout=10 \
    -close_fd_mask=2 -print_final_stats=1 -artifact_prefix="build-fuzz/$target-" \
    "$corpus/$target" "fuzz/corpus/$target"
done
