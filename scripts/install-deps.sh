#!/usr/bin/env bash
# Installs, on Debian or Ubuntu, whatever the build and the tests need and the
# machine lacks.
set -euo pipefail

# clang and its runtime libraries build the fuzzing targets (libFuzzer).
packages=(cmake ninja-build g++ libgtest-dev libtomlplusplus-dev libcli11-dev nlohmann-json3-dev
          clang libclang-rt-14-dev)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
if ((${#missing[@]} > 0)); then
  sudo=()
  if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
