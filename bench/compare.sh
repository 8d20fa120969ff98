#!/usr/bin/env bash
# Times the reader, the envelope tool and makeself side by side with the tools
# that do the same work (md5sum, cp, openssl, tar, gzip), page cache warm and
# cold, on one large payload, on many small files and on compressible Windows
# programs, and prints the results and the targets as markdown (for
# BENCHMARKS.md).
set -euo pipefail

usage() {
  cat <<'EOF'
Usage: bench/compare.sh [--cases LIST] [--runs N] [--size MIB] [--files N]
                        [--corpus MIB] [--random MIB] [--tiny N]
                        [--before DIR] [--no-build] [--help]

Builds the `bench` preset, prepares the inputs of the chosen cases in a
scratch directory under ${TMPDIR:-/tmp} and times every contender of a case
in alternating rounds (one untimed warm-up round, then RUNS rounds, each in
a rotated order, reversed every other round, so that a load change hits all
contenders alike and none always runs after the same one) under GNU time. Prints per case a markdown table of median wall time, ratio to the
case's floor, peak RSS (and blocks read from the disk in the cold case),
then the targets with PASS or FAIL. Exits with status 1 when a target fails.

Cases (--cases, comma-separated; default warm,cold,many,compressed):
  warm   SIZE_MIB random payload, page cache warm: md5sum, cp, openssl md5,
         Md5Hasher, the reader, a reader without envelope, envelope pack and
         verify, makeself --nocomp. Floor: md5sum + cp + rm in one command.
  cold   the same payload with the caches dropped before every run (needs
         root: sync; echo 3 > /proc/sys/vm/drop_caches): the reader against
         md5sum + cp + rm; shows the MiB read from the disk per run.
  many   FILES files of 8 KiB: the reader against tar x + rm -r and makeself;
         then the system calls per file of one reader run (strace -c -f).
  compressed
         the first CORPUS_MIB of the Windows programs in
         /usr/lib/i386-linux-gnu/wine/i386-windows (Debian: wine32:i386;
         whole files by name, LC_ALL=C order, while the total stays within
         CORPUS_MIB), and RANDOM_MIB random bytes. Sizes: installers packed
         with --compression best, fast and none, less the stub, against
         gzip -9 of a tar of the same files and against the random input.
         Install, warm: the reader on the best and the none installer, and
         makeself --gzip. Pack: envelope pack --compression best against
         gzip -9 of the tar; pack of the random bytes by default against
         --compression none. Left out when the folder is missing.
  tree   (not in the default list) the same Windows programs as a folder
         tree (/usr/lib/x86_64-linux-gnu/wine/x86_64-windows where the
         32-bit folder is missing), plus RANDOM_MIB random bytes and FILES
         files of 8 KiB as trees. Sizes of the installers packed with --tree at
         best, fast and none, less the stub, against xz -9e, zstd -19
         --long=27, gzip -9 and makeself --gzip of a tar of the tree. Pack:
         one timed run each of envelope pack best and fast against xz -9e.
         Install, warm: the reader on the best, fast and none installers
         against md5sum of the tar's zstd -19 --long=27 file + tar -I zstd
         -xf + rm -r; the many files against tar x + rm -r, with the system
         calls per file; 1 GiB (SIZE_MIB) random as a tree against md5sum +
         cp + rm. Peak memory of each reader.
  extract
         TINY_FILES files of 100 bytes (not in the default list): envelope
         extract of an installer of them compressed (best) against the
         same files stored (--compression none), and against the envelope
         tool before a change (--before) on the compressed installer.

Options (or the environment variables in brackets):
  --cases LIST  [CASES]     the cases to run
  --runs N      [RUNS=5]    timed rounds per case
  --size MIB    [SIZE_MIB=1024]  payload of warm and cold (64 or more)
  --files N     [FILES=10000]    files of the many case
  --corpus MIB  [CORPUS_MIB=200] Windows programs of the compressed case
  --random MIB  [RANDOM_MIB=256] random bytes of the compressed case
  --tiny N      [TINY_FILES=100000] files of the extract case
  --before DIR  [BEFORE_BIN]     a bin directory holding another build's
                                 `reader` and `envelope` (the ones before a
                                 change): they run as one more contender
  --no-build    [BUILD=0]   use build-bench/ as it is

A quick look: --cases many --runs 3 --files 2000 (about a minute). The cases
warm, cold and many at the defaults took 12 minutes on two shared cores (about
2 of them preparing the inputs; makeself's 1 GiB runs take the most of the
rest).
EOF
}

CASES=${CASES:-warm,cold,many,compressed}
RUNS=${RUNS:-5}
SIZE_MIB=${SIZE_MIB:-1024}
FILES=${FILES:-10000}
CORPUS_MIB=${CORPUS_MIB:-200}
RANDOM_MIB=${RANDOM_MIB:-256}
TINY_FILES=${TINY_FILES:-100000}
BEFORE_BIN=${BEFORE_BIN:-}
BUILD=${BUILD:-1}
while (($# > 0)); do
  case "$1" in
    -h | --help) usage; exit 0 ;;
    --cases) CASES=$2; shift 2 ;;
    --runs) RUNS=$2; shift 2 ;;
    --size) SIZE_MIB=$2; shift 2 ;;
    --files) FILES=$2; shift 2 ;;
    --corpus) CORPUS_MIB=$2; shift 2 ;;
    --random) RANDOM_MIB=$2; shift 2 ;;
    --tiny) TINY_FILES=$2; shift 2 ;;
    --before) BEFORE_BIN=$2; shift 2 ;;
    --no-build) BUILD=0; shift ;;
    *) usage >&2; exit 2 ;;
  esac
done
wants() { [[ ",$CASES," == *",$1,"* ]]; }
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bin=$root/build-bench/bin
if [ -n "$BEFORE_BIN" ]; then BEFORE_BIN=$(cd "$BEFORE_BIN" && pwd); fi

# makeself, GNU time and strace, the way scripts/install-deps.sh installs them.
missing=()
command -v makeself >/dev/null || missing+=(makeself)
[ -x /usr/bin/time ] || missing+=(time)
wants many && ! command -v strace >/dev/null && missing+=(strace)
if ((${#missing[@]} > 0)); then
  sudo=()
  if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
if wants cold && ! [ -w /proc/sys/vm/drop_caches ]; then
  echo "The cold case needs root (to drop the caches): left out." >&2
  CASES=${CASES//cold/}
fi
corpus_source=/usr/lib/i386-linux-gnu/wine/i386-windows
tree_source=$corpus_source
[ -d "$tree_source" ] || tree_source=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
if wants tree && ! [ -d "$tree_source" ]; then
  echo "The tree case reads $tree_source (Debian package wine32:i386 or wine64): left out." >&2
  CASES=${CASES//tree/}
fi
if wants compressed && ! [ -d "$corpus_source" ]; then
  echo "The compressed case reads $corpus_source (Debian package wine32:i386): left out." >&2
  CASES=${CASES//compressed/}
fi

if [ "$BUILD" != 0 ]; then
  (cd "$root" && cmake --preset bench >/dev/null && cmake --build --preset bench >/dev/null)
fi
if wants compressed && ! "$bin/envelope" pack --help 2>&1 | grep -q -- --compression; then
  echo "The compressed case needs envelope pack --compression, which this build lacks: left out." >&2
  CASES=${CASES//compressed/}
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/quillmarrow-compare.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
printf '#!/bin/sh\nexit 0\n' >setup.sh
chmod +x setup.sh
# The reader and makeself extract under TMPDIR: each gets its own directory on
# the scratch filesystem, emptied after every run.
mkdir reader-tmp makeself-tmp
reader_env="env TMPDIR=$scratch/reader-tmp"
makeself_env="env TMPDIR=$scratch/makeself-tmp"

# pack OUTPUT STUB ARGUMENTS...: an installer of the no-op setup program and
# the given --file and --value arguments.
pack() {
  local output=$1 stub=$2
  shift 2
  "$bin/envelope" pack --stub "$stub" --file installer:setup.sh=setup.sh \
    --value executable=%installer% "$@" --output "$output"
}

# makeself_archive OUTPUT DIRECTORY [COMPRESSION]: a makeself archive of
# DIRECTORY (which holds setup.sh) that runs the no-op setup program;
# COMPRESSION is makeself's flag for it (default --nocomp).
makeself_archive() {
  makeself "${3:---nocomp}" "$2" "$1" quillmarrow-compare ./setup.sh >makeself.log 2>&1 ||
    { cat makeself.log >&2; exit 1; }
}

if wants warm || wants cold; then
  echo "Preparing $SIZE_MIB MiB in $scratch ..." >&2
  head -c $((SIZE_MIB * 1024 * 1024)) /dev/urandom >payload
  pack installer "$bin/reader" --file :payload.bin=payload
  [ -z "$BEFORE_BIN" ] || pack installer-before "$BEFORE_BIN/reader" --file :payload.bin=payload
  mkdir makeself-content
  ln payload makeself-content/payload.bin
  cp setup.sh makeself-content/
  makeself_archive archive.run makeself-content
  # A big program file without an envelope: the reader followed by the payload.
  cat "$bin/reader" payload >bare-reader
  chmod +x bare-reader
fi
if wants many; then
  echo "Preparing $FILES files of 8 KiB in $scratch ..." >&2
  mkdir many
  file_arguments=()
  for ((i = 0; i < FILES; i++)); do
    name=$(printf 'f%05d.bin' "$i")
    head -c 8192 /dev/urandom >"many/$name"
    file_arguments+=(--file ":$name=many/$name")
  done
  tar cf many.tar -C many .
  pack installer-many "$bin/reader" "${file_arguments[@]}"
  [ -z "$BEFORE_BIN" ] || pack installer-many-before "$BEFORE_BIN/reader" "${file_arguments[@]}"
  cp setup.sh many/
  makeself_archive archive-many.run many
  rm many/setup.sh
fi
if wants compressed; then
  echo "Preparing the first $CORPUS_MIB MiB of $corpus_source and $RANDOM_MIB MiB of random bytes in $scratch ..." >&2
  # Whole files by name while the total stays within CORPUS_MIB.
  mkdir corpus
  corpus_arguments=()
  corpus_bytes=0
  while IFS= read -r name; do
    size=$(stat -c %s "$corpus_source/$name")
    ((corpus_bytes + size <= CORPUS_MIB * 1024 * 1024)) || break
    cp "$corpus_source/$name" corpus/
    corpus_arguments+=(--file ":$name=corpus/$name")
    corpus_bytes=$((corpus_bytes + size))
  done < <(find "$corpus_source" -maxdepth 1 -type f -printf '%f\n' | LC_ALL=C sort)
  corpus_files=$((${#corpus_arguments[@]} / 2))  # two arguments a file
  if ((corpus_files == 0)); then
    echo "No file of $corpus_source fits in $CORPUS_MIB MiB." >&2
    exit 2
  fi
  corpus_flags=$(printf ' %q' "${corpus_arguments[@]}")
  tar cf corpus.tar -C corpus .
  gzip -9 -c corpus.tar >corpus.tar.gz
  head -c $((RANDOM_MIB * 1024 * 1024)) /dev/urandom >random
  for level in best fast none; do
    pack "installer-$level" "$bin/reader" --compression "$level" "${corpus_arguments[@]}"
    pack "installer-random-$level" "$bin/reader" --compression "$level" --file :random.bin=random
  done
  # The reader before a change knows no compressed files.
  [ -z "$BEFORE_BIN" ] ||
    pack installer-none-before "$BEFORE_BIN/reader" --compression none "${corpus_arguments[@]}"
  cp setup.sh corpus/
  makeself_archive archive-gzip.run corpus --gzip
  rm corpus/setup.sh
fi
if wants tree; then
  echo "Preparing the first $CORPUS_MIB MiB of $tree_source as a tree, $RANDOM_MIB MiB and $SIZE_MIB MiB of random bytes and $FILES files of 8 KiB in $scratch ..." >&2
  mkdir -p tree/bin tree/programs
  cp setup.sh tree/bin/
  tree_bytes=0
  while IFS= read -r name; do
    size=$(stat -c %s "$tree_source/$name")
    ((tree_bytes + size <= CORPUS_MIB * 1024 * 1024)) || break
    cp "$tree_source/$name" tree/programs/
    tree_bytes=$((tree_bytes + size))
  done < <(find "$tree_source" -maxdepth 1 -type f -printf '%f\n' | LC_ALL=C sort)
  tree_files=$(find tree/programs -type f | wc -l)
  tar --sort=name -cf tree.tar -C tree .
  # One timed run each of the slow compressors: their times are the pack
  # targets' measure.
  /usr/bin/time -f %e -o xz.time xz -9e -T1 -c tree.tar >tree.tar.xz
  /usr/bin/time -f %e -o zstd.time zstd -q -19 --long=27 --single-thread -c tree.tar >tree.tar.zst
  gzip -9 -c tree.tar >tree.tar.gz
  makeself_archive tree-gzip.run tree --gzip
  for level in best fast none; do
    /usr/bin/time -f %e -o "pack-$level.time" "$bin/envelope" pack --stub "$bin/reader" \
      --tree tree --value executable=bin/setup.sh --compression "$level" --output "tree-$level"
  done
  mkdir -p random-tree/bin big-tree/bin many-tree/bin
  for directory in random-tree big-tree many-tree; do cp setup.sh "$directory/bin/"; done
  head -c $((RANDOM_MIB * 1024 * 1024)) /dev/urandom >random-tree/random.bin
  head -c $((SIZE_MIB * 1024 * 1024)) /dev/urandom >big-tree/payload.bin
  for ((i = 0; i < FILES; i++)); do
    head -c 8192 /dev/urandom >"many-tree/$(printf 'f%05d.bin' "$i")"
  done
  tar cf many-tree.tar -C many-tree .
  for level in best fast none; do
    "$bin/envelope" pack --stub "$bin/reader" --tree random-tree --value executable=bin/setup.sh \
      --compression "$level" --output "random-tree-$level"
  done
  for directory in big-tree many-tree; do
    "$bin/envelope" pack --stub "$bin/reader" --tree "$directory" --value executable=bin/setup.sh \
      --output "$directory-best"
    [ -z "$BEFORE_BIN" ] || "$bin/envelope" pack --stub "$BEFORE_BIN/reader" --tree "$directory" \
      --value executable=bin/setup.sh --output "$directory-best-before"
  done
fi
if wants extract; then
  echo "Preparing $TINY_FILES files of 100 bytes in $scratch ..." >&2
  # Too many for the command line: a manifest lists them.
  mkdir tiny
  awk -v n="$TINY_FILES" 'BEGIN {
    print "stub_name = \"reader\""
    for (i = 0; i < n; i++) {
      name = sprintf("t%06d.txt", i)
      printf "file %06d, %086d\n", i, i > ("tiny/" name)
      close("tiny/" name)
      printf "[[file]]\nname = \"%s\"\nsource = \"tiny/%s\"\n", name, name
    }
  }' >tiny.toml
  for level in best none; do
    "$bin/envelope" pack --stub "$bin/reader" --manifest tiny.toml --compression "$level" \
      --output "installer-tiny-$level" >/dev/null
  done
fi
sync

# timed COMMAND: one run of the shell command under GNU time, into time.out
# and stderr.out. Fails on a non-zero exit, or on any standard error output
# when `silent` is set (the reader exits 0 even when it reports a problem).
timed() {
  /usr/bin/time -f '%e %M %I' -o time.out bash -c "$1" >/dev/null 2>stderr.out &&
    ! { [ "$2" = silent ] && [ -s stderr.out ]; }
}

# contender NAME CHECK CLEANUP COMMAND: adds a contender to the current case.
# CHECK is "silent" (standard error must stay empty) or "-"; CLEANUP (shell
# code) runs after each run, untimed.
names=() checks=() cleanups=() commands=()
contender() {
  names+=("$1") checks+=("$2") cleanups+=("$3") commands+=("$4")
}

# median NUMBERS...: the median.
median_of() {
  printf '%s\n' "$@" | sort -g |
    awk '{ t[NR] = $1 } END { print (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2 }'
}

# run_case COLD: runs the contenders given so far in one warm-up round and
# RUNS timed rounds, each round in another order; COLD=1 drops the caches
# before every run. Records each contender's median seconds, peak RSS (KiB)
# and median 512-byte blocks read from the disk, then forgets the contenders.
# The reader's single-instance guard is per user: a run refused because
# another reader is running (a test, say) is repeated, for up to two minutes.
declare -A median peak blocks tree_size random_tree_size
run_case() {
  local cold=$1 count=${#names[@]} round k i waited seconds kib inblocks
  declare -A times reads
  echo "  $count contenders, $RUNS rounds after a warm-up:" >&2
  for ((round = 0; round <= RUNS; round++)); do
    for ((k = 0; k < count; k++)); do
      # Rotated by the round, and reversed every other round: on this VM a
      # run that writes is faster right after one that freed many pages, so
      # no contender may always follow the same one.
      i=$(((k + round) % count))
      ((round % 2 == 0)) || i=$((count - 1 - i))
      ((round > 0)) || echo "    ${names[i]}" >&2
      waited=0
      while :; do
        if [ "$cold" = 1 ]; then sync; echo 3 >/proc/sys/vm/drop_caches; fi
        timed "${commands[i]}" "${checks[i]}" && break
        if grep -q '^Already Running' stderr.out && ((waited++ < 120)); then
          sleep 1
          continue
        fi
        echo "${names[i]} failed:" >&2
        cat stderr.out time.out >&2
        exit 1
      done
      eval "${cleanups[i]}"
      sync  # the next run does not share the disk with this one's write-back
      ((round > 0)) || continue
      read -r seconds kib inblocks < <(tail -n 1 time.out)
      times[$i]+=" $seconds"
      reads[$i]+=" $inblocks"
      ((kib > ${peak[${names[i]}]:-0})) && peak[${names[i]}]=$kib
    done
  done
  for ((i = 0; i < count; i++)); do
    # shellcheck disable=SC2086 # the lists are space-separated numbers
    median[${names[i]}]=$(median_of ${times[$i]})
    # shellcheck disable=SC2086
    blocks[${names[i]}]=$(median_of ${reads[$i]})
  done
  case_names=("${names[@]}")
  names=() checks=() cleanups=() commands=()
}

# calc EXPRESSION [DECIMALS]: the awk expression's value, rounded (default 2).
calc() { awk "BEGIN { printf \"%.${2:-2}f\", $1 }"; }
mib() { calc "${peak[$1]} / 1024"; }
s() { echo "${median[$1]}"; }

# table FLOOR [READS]: the table of the case just run, ratios to contender
# FLOOR; READS=1 adds the MiB read from the disk per run.
table() {
  local floor=$1 reads=${2:-0} name
  echo
  if [ "$reads" = 1 ]; then
    echo "| contender | median s | × floor | peak MiB | MiB read from disk |"
    echo "|---|---:|---:|---:|---:|"
  else
    echo "| contender | median s | × floor | peak MiB |"
    echo "|---|---:|---:|---:|"
  fi
  for name in "${case_names[@]}"; do
    local row="| $name | $(calc "$(s "$name")" 3) | $(calc "$(s "$name") / $(s "$floor")") | $(mib "$name") |"
    [ "$reads" = 1 ] && row+=" $(calc "${blocks[$name]} * 512 / 1048576" 0) |"
    echo "$row"
  done
}

# check DESCRIPTION MEASURED CONDITION: one row of the target table; the
# condition is an awk expression.
failures=0
targets=()
check() {
  local verdict=PASS
  awk "BEGIN { exit !($3) }" || { verdict=FAIL; failures=$((failures + 1)); }
  targets+=("| $1 | $2 | $verdict |")
}
print_targets() {
  echo
  echo "| target | measured | result |"
  echo "|---|---|---|"
  printf '%s\n' "${targets[@]}"
  targets=()
}

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
ram=$(awk '/^MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo)
echo "**Machine:** $(nproc) × $cpu, $ram RAM, Linux $(uname -r), scratch on $(df --output=fstype "$scratch" | tail -n 1), $(date -u '+%Y-%m-%d %H:%M UTC'); load average at the start: $(cut -d ' ' -f 1-3 /proc/loadavg)"

floor_big="md5sum payload >/dev/null && cp payload copy && rm copy"
reader_big="$reader_env ./installer"
if wants warm; then
  echo "Warm, $SIZE_MIB MiB:" >&2
  contender "md5sum + cp + rm" - "" "$floor_big"
  contender "md5sum" - "" "md5sum payload"
  contender "cp" - "rm -f copy" "cp payload copy"
  contender "openssl md5" - "" "openssl md5 payload"
  contender "md5_file (Md5Hasher)" - "" "$bin/md5_file payload"
  contender "reader, end to end" silent "rm -rf reader-tmp/*" "$reader_big"
  [ -z "$BEFORE_BIN" ] ||
    contender "reader before, end to end" silent "rm -rf reader-tmp/*" "$reader_env ./installer-before"
  contender "reader, no envelope" - "rm -rf reader-tmp/*" "$reader_env ./bare-reader"
  contender "envelope pack" silent "rm -f packed" \
    "$bin/envelope pack --stub $bin/reader --file installer:setup.sh=setup.sh --file :payload.bin=payload --value executable=%installer% --output packed"
  contender "envelope verify" silent "" "$bin/envelope verify installer"
  # Without its progress display, which would only slow it down here.
  contender "makeself --nocomp archive" - "rm -rf makeself-tmp/*" \
    "$makeself_env ./archive.run --nox11 --noprogress"
  run_case 0
  echo
  echo "**Warm:** $SIZE_MIB MiB random payload, page cache warm, median of $RUNS alternating rounds after a warm-up; wall time, peak RSS from GNU time. Floor: md5sum + cp + rm of the payload in one command."
  table "md5sum + cp + rm"
  reader="reader, end to end"
  check "Md5Hasher ≥ 0.9× openssl md5 throughput" \
    "md5_file $(s 'md5_file (Md5Hasher)') s, openssl $(s 'openssl md5') s" \
    "$(s 'md5_file (Md5Hasher)') <= $(s 'openssl md5') / 0.9"
  check "reader ≤ 1.0× floor" "$(calc "$(s "$reader") / $(s 'md5sum + cp + rm')")×" \
    "$(s "$reader") <= $(s 'md5sum + cp + rm')"
  check "reader ≥ 3× faster than makeself" \
    "$(calc "$(s 'makeself --nocomp archive') / $(s "$reader")")×" \
    "3 * $(s "$reader") <= $(s 'makeself --nocomp archive')"
  check "reader peak ≤ 16 MiB" "$(mib "$reader") MiB" "${peak[$reader]} <= 16384"
  check "no-envelope rejection ≤ 1 s" "$(s 'reader, no envelope') s" "$(s 'reader, no envelope') <= 1"
  check "pack ≤ 1.15× floor" "$(calc "$(s 'envelope pack') / $(s 'md5sum + cp + rm')")×" \
    "$(s 'envelope pack') <= 1.15 * $(s 'md5sum + cp + rm')"
  check "pack peak ≤ 16 MiB" "$(mib 'envelope pack') MiB" "${peak['envelope pack']} <= 16384"
  check "verify ≤ 1.1× md5sum" "$(calc "$(s 'envelope verify') / $(s md5sum)")×" \
    "$(s 'envelope verify') <= 1.1 * $(s md5sum)"
  check "verify peak ≤ 16 MiB" "$(mib 'envelope verify') MiB" "${peak['envelope verify']} <= 16384"
  print_targets
fi

if wants cold; then
  echo "Cold, $SIZE_MIB MiB:" >&2
  contender "md5sum + cp + rm, cold" - "" "$floor_big"
  contender "reader, cold" silent "rm -rf reader-tmp/*" "$reader_big"
  [ -z "$BEFORE_BIN" ] ||
    contender "reader before, cold" silent "rm -rf reader-tmp/*" "$reader_env ./installer-before"
  run_case 1
  echo
  echo "**Cold:** the same payload, caches dropped before every run (sync; echo 3 > /proc/sys/vm/drop_caches), median of $RUNS alternating rounds; MiB read from the disk: GNU time's file-system inputs (%I, 512-byte blocks), median per run. The installer is $(calc "$(stat -c %s installer) / 1048576" 0) MiB."
  table "md5sum + cp + rm, cold" 1
  check "reader cold ≤ 1.1× floor" "$(calc "$(s 'reader, cold') / $(s 'md5sum + cp + rm, cold')")×" \
    "$(s 'reader, cold') <= 1.1 * $(s 'md5sum + cp + rm, cold')"
  check "reader reads the installer from disk at most once" \
    "$(calc "${blocks['reader, cold']} * 512 / 1048576" 0) MiB of $(calc "$(stat -c %s installer) / 1048576" 0) MiB" \
    "${blocks['reader, cold']} * 512 <= 1.05 * $(stat -c %s installer)"
  check "reader peak ≤ 16 MiB" "$(mib 'reader, cold') MiB" "${peak['reader, cold']} <= 16384"
  print_targets

  # With plenty of free memory a second read of the payload comes from the
  # page cache; a machine with little free memory reads it from disk again.
  # One cold run per reader in a memory cgroup whose page cache holds a
  # quarter of the payload shows it.
  limit=$((SIZE_MIB / 4))
  if [ -d /sys/fs/cgroup/memory ]; then
    group=/sys/fs/cgroup/memory/quillmarrow-compare-$$ limit_file=memory.limit_in_bytes
  elif grep -qw memory /sys/fs/cgroup/cgroup.controllers 2>/dev/null; then
    group=/sys/fs/cgroup/quillmarrow-compare-$$ limit_file=memory.max
  else
    group=
  fi
  if [ -n "$group" ] && mkdir "$group" 2>/dev/null; then
    echo $((limit * 1024 * 1024)) >"$group/$limit_file"
    echo
    echo "**Little free memory:** one cold run each in a memory cgroup limited to $limit MiB (page cache included)."
    echo
    echo "| reader | s | MiB read from disk |"
    echo "|---|---:|---:|"
    for installer in installer ${BEFORE_BIN:+installer-before}; do
      sync
      echo 3 >/proc/sys/vm/drop_caches
      bash -c "echo \$\$ >$group/cgroup.procs && exec /usr/bin/time -f '%e %I' -o time.out $reader_env ./$installer" \
        >/dev/null 2>&1
      rm -rf reader-tmp/*
      read -r seconds inblocks < <(tail -n 1 time.out)
      echo "| ${installer/installer/reader} | $seconds | $(calc "$inblocks * 512 / 1048576" 0) |"
    done
    rmdir "$group" 2>/dev/null || true
  fi
fi

if wants many; then
  echo "Many files, $FILES × 8 KiB:" >&2
  contender "tar x + rm -r" - "" "mkdir untarred && tar xf many.tar -C untarred && rm -r untarred"
  contender "reader, many files" silent "rm -rf reader-tmp/*" "$reader_env ./installer-many"
  [ -z "$BEFORE_BIN" ] ||
    contender "reader before, many files" silent "rm -rf reader-tmp/*" "$reader_env ./installer-many-before"
  contender "makeself --nocomp, many files" - "rm -rf makeself-tmp/*" \
    "$makeself_env ./archive-many.run --nox11 --noprogress"
  run_case 0
  echo
  echo "**Many files:** $FILES files of 8 KiB random bytes, page cache warm, median of $RUNS alternating rounds after a warm-up. Floor: tar x of the same files into a new directory, then rm -r of it, in one command."
  table "tar x + rm -r"
  reader="reader, many files"
  check "reader ≤ 1.0× tar x + rm -r" "$(calc "$(s "$reader") / $(s 'tar x + rm -r')")×" \
    "$(s "$reader") <= $(s 'tar x + rm -r')"
  check "reader ≥ 3× faster than makeself" \
    "$(calc "$(s 'makeself --nocomp, many files') / $(s "$reader")")×" \
    "3 * $(s "$reader") <= $(s 'makeself --nocomp, many files')"
  check "reader peak ≤ 16 MiB" "$(mib "$reader") MiB" "${peak[$reader]} <= 16384"

  # System calls of one run each, the setup program's and the removal's
  # included, per extracted file.
  echo
  echo "**System calls:** strace -c -f of one run, every process and call counted, divided by the $FILES files."
  echo
  echo "| reader | calls in all | per file | lseek + read + pread64 | most frequent calls |"
  echo "|---|---:|---:|---:|---|"
  for installer in installer-many ${BEFORE_BIN:+installer-many-before}; do
    strace -c -f -o strace.out env TMPDIR="$scratch/reader-tmp" "./$installer" >/dev/null 2>&1
    rm -rf reader-tmp/*
    # The calls column is the fourth (the fifth holds errors, when any).
    total=$(awk '$NF == "total" { print $4 }' strace.out)
    frequent=$(awk '/^[ 0-9.]+[0-9] / && $NF != "total" { print $4, $NF }' strace.out |
      sort -rn | head -n 6 | awk '{ printf "%s%s %s", (NR > 1 ? ", " : ""), $2, $1 }')
    reading=$(awk '$NF ~ /^(lseek|read|pread64)$/ { n += $4 } END { print n + 0 }' strace.out)
    per_file=$(calc "$total / $FILES" 1)
    echo "| ${installer/installer-many/reader} | $total | $per_file | $reading | $frequent |"
    [ "$installer" = installer-many ] && reader_calls=$per_file
  done
  check "≤ 8 system calls per small file" "$reader_calls" "$reader_calls <= 8"
  print_targets
fi

if wants compressed; then
  echo "Compressed, $corpus_files Windows programs ($(calc "$corpus_bytes / 1048576" 1) MiB) and $RANDOM_MIB MiB random:" >&2
  contender "reader, uncompressed" silent "rm -rf reader-tmp/*" "$reader_env ./installer-none"
  contender "reader, compressed (best)" silent "rm -rf reader-tmp/*" "$reader_env ./installer-best"
  [ -z "$BEFORE_BIN" ] ||
    contender "reader before, uncompressed" silent "rm -rf reader-tmp/*" "$reader_env ./installer-none-before"
  contender "makeself --gzip" - "rm -rf makeself-tmp/*" \
    "$makeself_env ./archive-gzip.run --nox11 --noprogress"
  run_case 0
  echo
  echo "**Compressed, install:** the first $corpus_files files ($(calc "$corpus_bytes / 1048576" 1) MiB, whole files by name) of Debian's 32-bit Wine DLLs and programs ($corpus_source), page cache warm, median of $RUNS alternating rounds after a warm-up. Floor: the reader on the installer of the same files packed with --compression none."
  table "reader, uncompressed"
  compressed="reader, compressed (best)"

  pack_command="$bin/envelope pack --stub $bin/reader --file installer:setup.sh=setup.sh --value executable=%installer%"
  contender "gzip -9 of the tar" - "rm -f packed.gz" "gzip -9 -c corpus.tar >packed.gz"
  contender "envelope pack --compression best" silent "rm -f packed" \
    "$pack_command --compression best$corpus_flags --output packed"
  run_case 0
  echo
  echo "**Compressed, pack:** the same files, median of $RUNS alternating rounds after a warm-up: envelope pack --compression best of them against one gzip -9 process compressing their tar ($(calc "$(stat -c %s corpus.tar) / 1048576" 1) MiB) to a file."
  table "gzip -9 of the tar"

  contender "envelope pack --compression none, random" silent "rm -f packed" \
    "$pack_command --compression none --file :random.bin=random --output packed"
  contender "envelope pack, random" silent "rm -f packed" \
    "$pack_command --file :random.bin=random --output packed"
  run_case 0
  echo
  echo "**Compressed, pack of random bytes:** $RANDOM_MIB MiB from /dev/urandom, median of $RUNS alternating rounds after a warm-up: envelope pack with its default compression against --compression none."
  table "envelope pack --compression none, random"

  # Sizes: the installers less the stub, against the inputs.
  stub=$(stat -c %s "$bin/reader")
  random_bytes=$(stat -c %s random)
  tar_gz=$(stat -c %s corpus.tar.gz)
  echo
  echo "**Compressed, sizes:** installers less the stub ($stub bytes), in bytes and against the input: the $corpus_files files, then $RANDOM_MIB MiB random bytes."
  echo
  echo "| what | bytes | × input |"
  echo "|---|---:|---:|"
  echo "| the files | $corpus_bytes | 1.0000 |"
  echo "| tar of them | $(stat -c %s corpus.tar) | $(calc "$(stat -c %s corpus.tar) / $corpus_bytes" 4) |"
  echo "| gzip -9 of the tar | $tar_gz | $(calc "$tar_gz / $corpus_bytes" 4) |"
  echo "| makeself --gzip archive | $(stat -c %s archive-gzip.run) | $(calc "$(stat -c %s archive-gzip.run) / $corpus_bytes" 4) |"
  declare -A corpus_size random_size
  for level in best fast none; do
    corpus_size[$level]=$(($(stat -c %s "installer-$level") - stub))
    echo "| installer, --compression $level | ${corpus_size[$level]} | $(calc "${corpus_size[$level]} / $corpus_bytes" 4) |"
  done
  echo "| random bytes | $random_bytes | 1.0000 |"
  for level in best fast none; do
    random_size[$level]=$(($(stat -c %s "installer-random-$level") - stub))
    echo "| random, installer, --compression $level | ${random_size[$level]} | $(calc "${random_size[$level]} / $random_bytes" 4) |"
  done

  check "size, best ≤ gzip -9 of the tar" "$(calc "${corpus_size[best]} / $tar_gz" 4)×" \
    "${corpus_size[best]} <= $tar_gz"
  for level in best fast none; do
    check "size, random, $level ≤ 1.001× input" "$(calc "${random_size[$level]} / $random_bytes" 4)×" \
      "${random_size[$level]} <= 1.001 * $random_bytes"
  done
  check "install, compressed ≤ 1.6× uncompressed" \
    "$(calc "$(s "$compressed") / $(s 'reader, uncompressed')")×" \
    "$(s "$compressed") <= 1.6 * $(s 'reader, uncompressed')"
  check "install, compressed ≥ 2× faster than makeself --gzip" \
    "$(calc "$(s 'makeself --gzip') / $(s "$compressed")")×" \
    "2 * $(s "$compressed") <= $(s 'makeself --gzip')"
  check "reader peak ≤ 16 MiB, compressed" "$(mib "$compressed") MiB" "${peak[$compressed]} <= 16384"
  check "pack --compression best ≤ 0.6× gzip -9" \
    "$(calc "$(s 'envelope pack --compression best') / $(s 'gzip -9 of the tar')")×" \
    "$(s 'envelope pack --compression best') <= 0.6 * $(s 'gzip -9 of the tar')"
  check "pack of random bytes ≤ 1.1× --compression none" \
    "$(calc "$(s 'envelope pack, random') / $(s 'envelope pack --compression none, random')")×" \
    "$(s 'envelope pack, random') <= 1.1 * $(s 'envelope pack --compression none, random')"
  print_targets
fi

if wants tree; then
  echo "Trees, $tree_files Windows programs ($(calc "$tree_bytes / 1048576" 1) MiB):" >&2
  contender "md5sum + tar -I zstd -xf + rm -r" - "" \
    "md5sum tree.tar.zst >/dev/null && mkdir untarred && tar -I 'zstd -d' -xf tree.tar.zst -C untarred && rm -r untarred"
  for level in best fast none; do
    contender "reader, tree $level" silent "rm -rf reader-tmp/*" "$reader_env ./tree-$level"
  done
  run_case 0
  echo
  echo "**Trees, install:** the first $tree_files files ($(calc "$tree_bytes / 1048576" 1) MiB, whole files by name) of $tree_source as a folder tree, page cache warm, median of $RUNS alternating rounds after a warm-up. Floor: md5sum of the tar's zstd -19 --long=27 file, then tar -I 'zstd -d' -xf of it into a new directory and rm -r of that, in one command."
  table "md5sum + tar -I zstd -xf + rm -r"
  for level in best fast none; do
    tree_size[$level]=$(($(stat -c %s "tree-$level") - $(stat -c %s "$bin/reader")))
    random_tree_size[$level]=$(($(stat -c %s "random-tree-$level") - $(stat -c %s "$bin/reader")))
  done
  xz_bytes=$(stat -c %s tree.tar.xz)
  echo
  echo "**Trees, sizes:** installers less the stub, and one timed run of each packer."
  echo
  echo "| what | bytes | × xz -9e | pack s |"
  echo "|---|---:|---:|---:|"
  echo "| tar of the tree | $(stat -c %s tree.tar) | $(calc "$(stat -c %s tree.tar) / $xz_bytes" 3) | |"
  echo "| gzip -9 of the tar | $(stat -c %s tree.tar.gz) | $(calc "$(stat -c %s tree.tar.gz) / $xz_bytes" 3) | |"
  echo "| makeself --gzip | $(stat -c %s tree-gzip.run) | $(calc "$(stat -c %s tree-gzip.run) / $xz_bytes" 3) | |"
  echo "| zstd -19 --long=27 of the tar | $(stat -c %s tree.tar.zst) | $(calc "$(stat -c %s tree.tar.zst) / $xz_bytes" 3) | $(cat zstd.time) |"
  echo "| xz -9e of the tar | $xz_bytes | 1.000 | $(cat xz.time) |"
  for level in best fast none; do
    echo "| installer, --tree, $level | ${tree_size[$level]} | $(calc "${tree_size[$level]} / $xz_bytes" 3) | $(cat "pack-$level.time") |"
  done
  random_input=$((RANDOM_MIB * 1024 * 1024 + $(stat -c %s setup.sh)))
  for level in best fast none; do
    echo "| random ($RANDOM_MIB MiB), $level, × input | ${random_tree_size[$level]} | $(calc "${random_tree_size[$level]} / $random_input" 4) | |"
  done
  check "size, best ≤ 1.15× xz -9e" "$(calc "${tree_size[best]} / $xz_bytes" 3)×" \
    "${tree_size[best]} <= 1.15 * $xz_bytes"
  check "size, fast ≤ 1.8× xz -9e" "$(calc "${tree_size[fast]} / $xz_bytes" 3)×" \
    "${tree_size[fast]} <= 1.8 * $xz_bytes"
  for level in best fast none; do
    check "size, random, $level ≤ 1.001× input" \
      "$(calc "${random_tree_size[$level]} / $random_input" 4)×" \
      "${random_tree_size[$level]} <= 1.001 * $random_input"
  done
  check "install, best ≤ 1.0× none" "$(calc "$(s 'reader, tree best') / $(s 'reader, tree none')")×" \
    "$(s 'reader, tree best') <= $(s 'reader, tree none')"
  check "install, best ≤ 1.0× md5sum + tar -I zstd" \
    "$(calc "$(s 'reader, tree best') / $(s 'md5sum + tar -I zstd -xf + rm -r')")×" \
    "$(s 'reader, tree best') <= $(s 'md5sum + tar -I zstd -xf + rm -r')"
  check "pack best ≤ xz -9e" "$(cat pack-best.time) s, xz $(cat xz.time) s" \
    "$(cat pack-best.time) <= $(cat xz.time)"
  check "pack fast ≤ ¼ xz -9e" "$(cat pack-fast.time) s" "4 * $(cat pack-fast.time) <= $(cat xz.time)"
  for level in best fast none; do
    check "reader peak ≤ 256 MiB, tree $level" "$(mib "reader, tree $level") MiB" \
      "${peak["reader, tree $level"]} <= 262144"
  done
  print_targets

  echo "Trees, $FILES files of 8 KiB and $SIZE_MIB MiB random:" >&2
  contender "tar x + rm -r, tree" - "" "mkdir untarred && tar xf many-tree.tar -C untarred && rm -r untarred"
  contender "reader, many files, tree" silent "rm -rf reader-tmp/*" "$reader_env ./many-tree-best"
  if [ -n "$BEFORE_BIN" ]; then
    contender "reader before, many files, tree" silent "rm -rf reader-tmp/*" \
      "$reader_env ./many-tree-best-before"
  fi
  run_case 0
  echo
  echo "**Trees, many files:** $FILES files of 8 KiB random bytes as a tree packed with the default compression, page cache warm, median of $RUNS alternating rounds after a warm-up."
  table "tar x + rm -r, tree"
  strace -c -f -o strace.out env TMPDIR="$scratch/reader-tmp" ./many-tree-best >/dev/null 2>&1
  rm -rf reader-tmp/*
  tree_calls=$(calc "$(awk '$NF == "total" { print $4 }' strace.out) / $FILES" 1)
  echo
  echo "System calls of one run (strace -c -f, every process), per file: $tree_calls; most frequent: $(awk '/^[ 0-9.]+[0-9] / && $NF != "total" { print $4, $NF }' strace.out | sort -rn | head -n 6 | awk '{ printf "%s%s %s", (NR > 1 ? ", " : ""), $2, $1 }')."
  check "many files, tree ≤ 1.0× tar x + rm -r" \
    "$(calc "$(s 'reader, many files, tree') / $(s 'tar x + rm -r, tree')")×" \
    "$(s 'reader, many files, tree') <= $(s 'tar x + rm -r, tree')"
  check "≤ 6 system calls per file, tree" "$tree_calls" "$tree_calls <= 6"

  contender "md5sum + cp + rm, tree" - "" \
    "md5sum big-tree/payload.bin >/dev/null && cp big-tree/payload.bin copy && rm copy"
  contender "reader, $SIZE_MIB MiB random, tree" silent "rm -rf reader-tmp/*" "$reader_env ./big-tree-best"
  if [ -n "$BEFORE_BIN" ]; then
    contender "reader before, $SIZE_MIB MiB random, tree" silent "rm -rf reader-tmp/*" \
      "$reader_env ./big-tree-best-before"
  fi
  run_case 0
  echo
  echo "**Trees, $SIZE_MIB MiB random:** one file of random bytes as a tree packed with the default compression, page cache warm, median of $RUNS alternating rounds after a warm-up."
  table "md5sum + cp + rm, tree"
  check "$SIZE_MIB MiB random, tree ≤ 1.05× md5sum + cp + rm" \
    "$(calc "$(s "reader, $SIZE_MIB MiB random, tree") / $(s 'md5sum + cp + rm, tree')")×" \
    "$(s "reader, $SIZE_MIB MiB random, tree") <= 1.05 * $(s 'md5sum + cp + rm, tree')"
  check "reader peak ≤ 256 MiB, $SIZE_MIB MiB random" "$(mib "reader, $SIZE_MIB MiB random, tree") MiB" \
    "${peak["reader, $SIZE_MIB MiB random, tree"]} <= 262144"
  print_targets
fi

if wants extract; then
  echo "Extract, $TINY_FILES files of 100 bytes:" >&2
  contender "envelope extract, stored" silent "rm -rf extracted" \
    "$bin/envelope extract installer-tiny-none --to extracted"
  contender "envelope extract, compressed" silent "rm -rf extracted" \
    "$bin/envelope extract installer-tiny-best --to extracted"
  [ -z "$BEFORE_BIN" ] || [ ! -x "$BEFORE_BIN/envelope" ] ||
    contender "envelope extract before, compressed" silent "rm -rf extracted" \
      "$BEFORE_BIN/envelope extract installer-tiny-best --to extracted"
  run_case 0
  echo
  echo "**Extract:** envelope extract of $TINY_FILES files of 100 bytes into a new directory, page cache warm, median of $RUNS alternating rounds after a warm-up. Floor: the same files stored."
  table "envelope extract, stored"
  check "extract, compressed ≤ 1.5× stored" \
    "$(calc "$(s 'envelope extract, compressed') / $(s 'envelope extract, stored')")×" \
    "$(s 'envelope extract, compressed') <= 1.5 * $(s 'envelope extract, stored')"
  print_targets
fi

echo
echo "$failures target(s) failed." >&2
((failures == 0))
