#!/usr/bin/env bash
# Installs, on Debian or Ubuntu, what the machine lacks to build and run the
# reader and the envelope tool. With --tests (scripts/test.sh passes it), also
# what the test suite needs: the Windows cross compilers, Wine, GoogleTest,
# clang for the fuzzing targets and the other tools the checks call.
#
# A package index that fails to download (a mirror caught in the middle of a
# sync, say) stops nothing it does not concern: `apt-get update` is tried a
# few times, and when some index still fails the install goes ahead with the
# indexes apt has. It fails only when a needed package cannot be installed,
# and then says which and why in one line.
#
# 32-bit Wine (wine32:i386) is installed on a best-effort basis: it needs the
# i386 index, in step with the amd64 one, and a kernel that runs 32-bit code.
# Where it cannot be installed, scripts/test.sh runs the Wine tests on the
# 64-bit build of the same sources.
#
# INSTALL_DEPS_RETRY_SECONDS (default 5) is the first pause between two tries
# of `apt-get update`; it doubles after each try.
set -euo pipefail

name=install-deps.sh
tests=0
for option in "$@"; do
  case "$option" in
    --tests) tests=1 ;;
    -h | --help) sed -n '2,19p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "$name: unknown option $option (see --help)" >&2; exit 2 ;;
  esac
done

# Building the reader and the tool, packing and running the sample installer:
# CMake, Ninja, g++, the tool's libraries (TOML, command line, JSON), zlib
# for compressed file groups and zstd (its static library) for archive groups.
packages=(cmake ninja-build g++ libtomlplusplus-dev libcli11-dev nlohmann-json3-dev zlib1g-dev
  libzstd-dev)
if ((tests)); then
  # git names the files to lay out and stamps the reproducible builds;
  # GoogleTest; clang and its runtime libraries build the fuzzing targets
  # (libFuzzer); clang-format checks the layout; Google Benchmark, makeself
  # and GNU time serve the benchmarks.
  packages+=(git libgtest-dev clang libclang-rt-14-dev clang-format-14 libbenchmark-dev makeself time)
  # The release checks: readelf (binutils) and file look at the static reader.
  packages+=(binutils file)
  # The format document's decoder test (tests/format_doc): Python and the zstd program.
  packages+=(python3 zstd)
  # The Windows programs link the MinGW-w64 build of the same zlib (1.2.13)
  # statically, so that envelope.exe and the Linux tool write the same bytes.
  # Debian has no such build of zstd: the Windows builds download the source
  # of the installed libzstd-dev's version (apt-get source), unpack it
  # (dpkg-source, from dpkg-dev) and build it with its makefile (make).
  packages+=(libz-mingw-w64-dev dpkg-dev make)
  # The Windows reader: MinGW-w64 cross compilers, GoogleTest's sources to
  # build for Windows, 64-bit Wine (wine32 is tried apart, below) and code
  # signing.
  packages+=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix googletest
    wine wine64 osslsigncode openssl)
  # The Windows reader's progress window: a virtual display to show it on, and
  # xwininfo to look at it.
  packages+=(xvfb xauth x11-utils)
fi

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

missing=()
for package in "${packages[@]}"; do
  installed "$package" || missing+=("$package")
done
want_wine32=0
if ((tests)) && ! installed wine32:i386; then want_wine32=1; fi
if ((${#missing[@]} == 0 && want_wine32 == 0)); then exit 0; fi

sudo=()
if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi
apt_get() { DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get "$@"; }
log=$(mktemp)
trap 'rm -f "$log"' EXIT

# apt_reason LOG STATUS [PACKAGE]: why apt could not do something, in one
# line: the unmet dependency of PACKAGE it names, else the first one it
# names, else its first error.
apt_reason() {
  local line="" unmet='[^ ]+ : (Pre)?Depends:|[^ ]+ : (Conflicts|Breaks):'
  if [ -n "${3:-}" ]; then line=$(grep -m1 -F " $3 : " "$1" || true); fi
  if [ -z "$line" ]; then line=$(grep -m1 -E "^ *($unmet)" "$1" || true); fi
  if [ -z "$line" ]; then line=$(grep -m1 '^E: ' "$1" || true); fi
  if [ -z "$line" ]; then line="apt-get exited with status $2"; fi
  echo "$line" | sed -e 's/^ *//' -e 's/^E: //' -e 's/  */ /g'
}

if ((want_wine32)) && ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo[@]}" dpkg --add-architecture i386 ||
    echo "$name: could not add the i386 architecture; 32-bit Wine will be missing" >&2
fi

# Refresh the indexes; an index that is briefly out of step often is not a
# few seconds later. When one still fails, go on: what is needed may well
# come from the others, and the install below says so if it does not.
pause=${INSTALL_DEPS_RETRY_SECONDS:-5}
stale_i386=""
for try in 1 2 3; do
  status=0
  apt_get update -qq >"$log" 2>&1 || status=$?
  if ((status == 0)); then break; fi
  if ((try == 3)); then
    echo "$name: apt-get update failed 3 times, going on with the indexes apt has ($(apt_reason "$log" "$status"))" >&2
    stale_i386=$(grep -m1 -o 'http[^ ]*binary-i386[^ ]*' "$log" || true)
  else
    sleep "$pause"
    pause=$((pause * 2))
  fi
done

if ((${#missing[@]} > 0)); then
  status=0
  apt_get install -y -qq --no-install-recommends "${missing[@]}" 2>&1 | tee "$log" || status=$?
  if ((status != 0)); then
    # Name the first needed package that apt cannot install on its own; when
    # each can be, the failure is common to them (a download, dpkg).
    culprit="the needed packages" reason=$(apt_reason "$log" "$status")
    for package in "${missing[@]}"; do
      simulation=0
      apt_get install -s -q --no-install-recommends "$package" >"$log" 2>&1 || simulation=$?
      if ((simulation != 0)); then
        culprit=$package reason=$(apt_reason "$log" "$simulation" "$package")
        break
      fi
    done
    echo "$name: cannot install $culprit: $reason" >&2
    exit 1
  fi
fi

# Its i386 libraries must be at the very versions of their amd64 twins; an
# i386 index that did not refresh leaves them behind those just installed.
if ((want_wine32)); then
  status=0
  apt_get install -y -q --no-install-recommends wine32:i386 >"$log" 2>&1 || status=$?
  if ((status != 0)); then
    reason=$(apt_reason "$log" "$status" wine32:i386)
    if [ -n "$stale_i386" ]; then
      reason="the i386 index $stale_i386 did not refresh, so i386 libraries lag behind their amd64 twins (apt says: $reason)"
    fi
    echo "$name: 32-bit Wine (wine32:i386) not installed, the Wine tests will run the 64-bit build: $reason" >&2
  fi
fi
exit 0
