#!/usr/bin/env bash
# Checks that the release programs are reproducible: builds them a second
# time from a copy of the tracked files in a scratch folder elsewhere and
# compares each with the first build byte for byte: reader.exe of the win32
# and of the win64 preset, envelope.exe (win64) and the static Linux reader
# (release). Also checks that no program holds the path of either source
# folder. Run it from the repository after those builds (scripts/test.sh
# does), with the SOURCE_DATE_EPOCH they were configured with; unset, it is
# the commit's time, as for a build configured in the checkout. Prints each
# program's SHA-256 and exits 1 when one differs.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
programs=(build-win32/bin/reader.exe build-win64/bin/reader.exe build-win64/bin/envelope.exe
  build-release/bin/reader)
for program in "${programs[@]}"; do
  [ -f "$program" ] || { echo "check-reproducible: build $program first" >&2; exit 2; }
done

started=$SECONDS
scratch=$(mktemp -d "${TMPDIR:-/tmp}/quillmarrow-reproducible.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
copy=$scratch/second-copy
mkdir "$copy"
git ls-files -z | tar -c --null -T - -f - | tar -x -C "$copy" -f -

# Only the targets compared, each with its preset exactly as in the first
# build. The three builds run side by side: each spends much of its time on
# one processor (configuring, downloading zstd's source, the reader's
# whole-program link).
second_build() {  # second_build PRESET TARGET...: its output in $scratch/PRESET.log
  local preset=$1
  shift
  (cd "$copy" && cmake --preset "$preset" && cmake --build --preset "$preset" --target "$@") \
    >"$scratch/$preset.log" 2>&1 || touch "$scratch/$preset.failed"
}
second_build win32 reader &
second_build win64 envelope reader &
second_build release reader &
wait
for preset in win32 win64 release; do
  if [ -e "$scratch/$preset.failed" ]; then
    cat "$scratch/$preset.log" >&2
    echo "check-reproducible: the second $preset build failed" >&2
    exit 1
  fi
done

failures=0
for program in "${programs[@]}"; do
  if ! cmp -s "$program" "$copy/$program"; then
    echo "FAILED: $program differs from its second build (first bytes that differ, offset and octal values):"
    cmp -l "$program" "$copy/$program" | head -n 8 || true
    failures=$((failures + 1))
  elif grep -aqF -e "$root" -e "$copy" "$program"; then
    echo "FAILED: $program holds the path of a source folder"
    failures=$((failures + 1))
  else
    echo "ok: $program is the same in both builds ($(sha256sum <"$program" | cut -d' ' -f1))"
  fi
done
echo "second build and comparison: $((SECONDS - started)) s (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH)"
[ "$failures" -eq 0 ]
