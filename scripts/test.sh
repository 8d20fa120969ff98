#!/usr/bin/env bash
# Installs what is missing, builds from scratch and runs every test twice:
# with warnings as errors, and under AddressSanitizer and
# UndefinedBehaviorSanitizer.
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
