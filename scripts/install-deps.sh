#!/usr/bin/env bash
# Installs, on Debian or Ubuntu, whatever the build and the tests need and the
# machine lacks.
set -euo pipefail

# The envelope tool's libraries; clang and its runtime libraries build the
# fuzzing targets (libFuzzer); clang-format checks the layout; Google
# Benchmark, makeself and GNU time serve the benchmarks.
packages=(cmake ninja-build g++ git libgtest-dev libtomlplusplus-dev libcli11-dev nlohmann-json3-dev
  clang libclang-rt-14-dev clang-format-14 libbenchmark-dev makeself time)
# The release checks: readelf (binutils) and file look at the static reader.
packages+=(binutils file)
# Compressed file groups are DEFLATE through zlib, linked statically into the
# reader and the tool: Debian's libz.a natively, and the MinGW-w64 build of
# the same zlib (1.2.13) for the Windows programs, so that envelope.exe and
# the Linux tool write the same bytes.
packages+=(zlib1g-dev libz-mingw-w64-dev)
# The Windows reader: MinGW-w64 cross compilers, GoogleTest's sources to build
# for Windows, Wine (wine32 runs the 32-bit programs where the kernel allows
# 32-bit code; wine64 runs the 64-bit build of the same sources elsewhere) and
# code signing.
packages+=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix googletest
  wine wine64 wine32:i386 osslsigncode openssl)
# The Windows reader's progress window: a virtual display to show it on, and
# xwininfo to look at it.
packages+=(xvfb xauth x11-utils)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
if ((${#missing[@]} > 0)); then
  sudo=()
  if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo[@]}" dpkg --add-architecture i386
  fi
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
