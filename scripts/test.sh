#!/usr/bin/env bash
# Installs what is missing, checks the layout of every C++ file, builds from
# scratch and runs every test twice: with warnings as errors, and under
# AddressSanitizer and UndefinedBehaviorSanitizer. The Windows reader and
# envelope.exe are cross-built first; the warnings-as-errors run checks the
# reader and runs the Windows programs under Wine. The release build's
# install, a project packing installers with it and the release archives are
# checked, and the warnings-as-errors run checks its static reader and runs
# the end-to-end tests against it. The stubs and envelope.exe are built a
# second time in another folder and must come out byte for byte the same.
# Then runs each fuzzing target for a minute (FUZZ_SECONDS) from the seeds in
# fuzz/corpus, with its dictionary fuzz/<target>.dict where there is one, as
# many targets at a time as there are processors.
#
# Options for day-to-day use (the default, and CI, is the full clean run):
#   --skip-deps   do not install missing packages (scripts/install-deps.sh --tests)
#   --reuse       keep existing build folders, building only what changed
#   --no-fuzz     skip the fuzzing targets
set -euo pipefail
cd "$(dirname "$0")/.."

install_deps=1 reuse=0 fuzz=1
for option in "$@"; do
  case "$option" in
    --skip-deps) install_deps=0 ;;
    --reuse) reuse=1 ;;
    --no-fuzz) fuzz=0 ;;
    -h | --help) sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "test.sh: unknown option $option (see --help)" >&2; exit 2 ;;
  esac
done

# Names the step that starts, with the time the run has taken so far.
step() { echo "== $* (at $((SECONDS / 60))m$((SECONDS % 60))s)"; }

# Starts a preset's build folder afresh, unless --reuse keeps it.
fresh() { if ((reuse == 0)); then rm -rf "$1"; fi; }

if ((install_deps)); then scripts/install-deps.sh --tests; fi

# Every build of this run stamps its Windows programs with the commit's time,
# so that check-reproducible.sh can build them again elsewhere and compare.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then export SOURCE_DATE_EPOCH=$(git log -1 --format=%ct); fi

step "layout (clang-format)"
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format-14 --dry-run --Werror

# The Windows reader: the shipped 32-bit build, and the build whose programs
# the Wine tests run. 32-bit Wine (wine32:i386, installed where apt can) needs
# a kernel that runs 32-bit code; where either is missing, the same sources
# built for 64-bit Windows run under wine64, and the 32-bit reader.exe is
# still checked without running it.
windows_presets=(win32)
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  wine_build=build-win32 wine_loader=/usr/lib/wine/wine
  step "Wine runs the 32-bit build (build-win32)"
else
  windows_presets+=(win64)
  wine_build=build-win64 wine_loader=/usr/lib/wine/wine64
  if [ -e /usr/lib/wine/wine ]; then
    why="32-bit Wine does not start here (a kernel without 32-bit support?)"
  else
    why="32-bit Wine (wine32:i386) is not installed"
  fi
  step "Wine runs the 64-bit build (build-win64): $why"
fi
for preset in "${windows_presets[@]}"; do
  step "$preset"
  fresh "build-$preset"
  cmake --preset "$preset"
  if [ "$preset" = win32 ] && [ "$wine_build" != build-win32 ]; then
    # Its tests cannot run here: only the reader.exe that ships, which the
    # checks below look at without running it.
    cmake --build --preset "$preset" --target reader
  else
    cmake --build --preset "$preset"
  fi
done
# envelope.exe, the tool for 64-bit Windows, and the reader.exe its Wine
# tests pack: only these two where the win64 build is not made whole above.
# Its tests run under wine64, where that runs.
if [[ " ${windows_presets[*]} " != *" win64 "* ]]; then
  step "win64 (envelope.exe)"
  fresh build-win64
  cmake --preset win64
  cmake --build --preset win64 --target envelope reader
fi
windows_tool=(-DQUILLMARROW_WINDOWS_TOOL="$PWD/build-win64/bin/envelope.exe")
wine64_tests=()
if /usr/lib/wine/wine64 --version >/dev/null 2>&1; then
  wine64_tests=("${windows_tool[@]}" -DQUILLMARROW_WINE64=/usr/lib/wine/wine64)
fi

# The release build: the static Linux reader and the envelope tool, with the
# 32-bit reader.exe as the Windows stub of its install, and envelope.exe for
# the Windows archive. check-package.sh installs it, builds and runs a
# project that packs installers with the installed package, and makes and
# lists the release archives; the ci tests
# below check the release reader and run the end-to-end tests against it.
step "release"
fresh build-release
cmake --preset release -DQUILLMARROW_WINDOWS_READER="$PWD/build-win32/bin/reader.exe" \
  "${windows_tool[@]}"
cmake --build --preset release
tests/package/check-package.sh build-release

step "reproducible (the stubs and envelope.exe built again in another folder)"
scripts/check-reproducible.sh

for preset in ci asan; do
  step "$preset"
  fresh "build-$preset"
  windows=()
  if [ "$preset" = ci ]; then  # once is enough: the Windows programs are the same
    windows=(-DQUILLMARROW_WIN32_READER="$PWD/build-win32/bin/reader.exe"
      -DQUILLMARROW_WINDOWS_BUILD="$PWD/$wine_build" -DQUILLMARROW_WINE="$wine_loader"
      -DQUILLMARROW_RELEASE_READER="$PWD/build-release/bin/reader" "${wine64_tests[@]}")
  fi
  cmake --preset "$preset" "${windows[@]}"
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done

# The seeds are only read; what the fuzzers add goes to a scratch directory,
# and an input that fails is kept as build-fuzz/<target>-crash-... .
if ((fuzz == 0)); then step "done"; exit 0; fi
step "fuzz"
fresh build-fuzz
cmake --preset fuzz
cmake --build --preset fuzz
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
# Runs one target; its report goes to $corpus/TARGET.log, and a failure
# leaves $corpus/TARGET.failed.
fuzz_target() {
  local target=$1 dictionary=()
  mkdir "$corpus/$target"
  # The envelope's and the manifest's words, where the target has a dictionary.
  if [ -f "fuzz/$target.dict" ]; then dictionary=(-dict="fuzz/$target.dict"); fi
  "build-fuzz/bin/${target}_fuzzer" -max_total_time="${FUZZ_SECONDS:-60}" -timeout=10 \
    -close_fd_mask=2 -print_final_stats=1 -artifact_prefix="build-fuzz/$target-" \
    "${dictionary[@]}" "$corpus/$target" "fuzz/corpus/$target" >"$corpus/$target.log" 2>&1 ||
    touch "$corpus/$target.failed"
}
# Each target runs on a processor of its own, as many at a time as there are
# processors; each report is shown whole once it ends.
targets=(walk expand tool) processors=$(nproc) running=0 failed=()
for target in "${targets[@]}"; do
  if ((running == processors)); then wait -n; running=$((running - 1)); fi
  fuzz_target "$target" &
  running=$((running + 1))
done
wait
for target in "${targets[@]}"; do
  echo "-- ${target}_fuzzer"
  cat "$corpus/$target.log"
  if [ -e "$corpus/$target.failed" ]; then failed+=("${target}_fuzzer"); fi
done
if ((${#failed[@]})); then echo "test.sh: failed: ${failed[*]} (reports above)" >&2; exit 1; fi
step "done"
