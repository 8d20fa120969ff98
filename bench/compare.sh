#!/usr/bin/env bash
# Times the reader, the envelope tool and a makeself archive side by side with
# md5sum, cp and openssl on one large random payload, page cache warm, and
# prints the results and the targets as markdown (for BENCHMARKS.md).
set -euo pipefail

usage() {
  cat <<'EOF'
Usage: bench/compare.sh [--help]

Builds the `bench` preset, packs a SIZE_MIB payload into an installer and a
makeself --nocomp archive in a scratch directory under ${TMPDIR:-/tmp}, runs
every contender RUNS times after one warm-up under GNU time, and prints a
markdown table of median wall time, ratio to md5sum + cp and peak RSS,
followed by the targets with PASS or FAIL. Exits with status 1 when a
target fails.

Environment:
  SIZE_MIB=1024   payload size in MiB (64 or more: GNU time counts hundredths)
  RUNS=5          timed runs per contender
  BUILD=0         use build-bench/ as it is, without configuring or building
EOF
}
case "${1:-}" in
  -h | --help) usage; exit 0 ;;
  "") ;;
  *) usage >&2; exit 2 ;;
esac

SIZE_MIB=${SIZE_MIB:-1024}
RUNS=${RUNS:-5}
BUILD=${BUILD:-1}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bin=$root/build-bench/bin

# makeself and GNU time, the way scripts/install-deps.sh installs them.
missing=()
command -v makeself >/dev/null || missing+=(makeself)
[ -x /usr/bin/time ] || missing+=(time)
if ((${#missing[@]} > 0)); then
  sudo=()
  if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

if [ "$BUILD" != 0 ]; then
  (cd "$root" && cmake --preset bench >/dev/null && cmake --build --preset bench >/dev/null)
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/quillmarrow-compare.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"

echo "Preparing $SIZE_MIB MiB in $scratch ..." >&2
head -c $((SIZE_MIB * 1024 * 1024)) /dev/urandom >payload
printf '#!/bin/sh\nexit 0\n' >setup.sh
chmod +x setup.sh
pack=("$bin/envelope" pack --stub "$bin/reader" --file installer:setup.sh=setup.sh
  --file :payload.bin=payload --value executable=%installer%)
"${pack[@]}" --output installer
mkdir makeself-content
ln payload makeself-content/payload.bin
cp setup.sh makeself-content/
makeself --nocomp makeself-content archive.run quillmarrow-compare ./setup.sh >makeself.log 2>&1 ||
  { cat makeself.log >&2; exit 1; }
# A big program file without an envelope: the reader followed by the payload.
cat "$bin/reader" payload >bare-reader
chmod +x bare-reader
# The reader and makeself extract under TMPDIR: give each its own directory on
# the scratch filesystem, emptied between runs in case a run leaves something.
mkdir reader-tmp makeself-tmp
sync

# timed COMMAND...: one run under GNU time, into time.out and stderr.out.
# Fails on a non-zero exit, or on any standard error output when `silent` is
# set (the reader exits 0 even when it reports a problem).
timed() {
  /usr/bin/time -f '%e %M' -o time.out "$@" >/dev/null 2>stderr.out &&
    ! { [ -n "${silent:-}" ] && [ -s stderr.out ]; }
}

# measure NAME CLEANUP COMMAND...: runs COMMAND once to warm up, then RUNS
# times; CLEANUP (shell code) runs after each run, untimed. Records the median
# wall seconds and the peak RSS in KiB over the timed runs. The reader's
# single-instance guard is per user: a run refused because another reader is
# running (a test, say) is repeated, for up to two minutes.
declare -A median peak
order=()
measure() {
  local name=$1 cleanup=$2 run waited=0 times=() seconds kib max=0
  shift 2
  echo "  $name" >&2
  for ((run = 0; run <= RUNS; run++)); do
    until timed "$@"; do
      if grep -q '^Already Running' stderr.out && ((waited++ < 120)); then
        sleep 1
        continue
      fi
      echo "$name failed:" >&2
      cat stderr.out time.out >&2
      exit 1
    done
    eval "$cleanup"
    sync  # the next run does not share the disk with this one's write-back
    ((run > 0)) || continue
    read -r seconds kib < <(tail -n 1 time.out)
    times+=("$seconds")
    ((kib > max)) && max=$kib
  done
  median[$name]=$(printf '%s\n' "${times[@]}" | sort -g |
    awk '{ t[NR] = $1 } END { print (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2 }')
  peak[$name]=$max
  order+=("$name")
}

echo "Timing $RUNS runs after one warm-up each:" >&2
measure "md5sum" "" md5sum payload
measure "cp" "rm -f copy" cp payload copy
measure "openssl md5" "" openssl md5 payload
measure "md5_file (Md5Hasher)" "" "$bin/md5_file" payload
silent=1 measure "reader, end to end" "rm -rf reader-tmp/*" env TMPDIR="$scratch/reader-tmp" ./installer
measure "reader, no envelope" "rm -rf reader-tmp/*" env TMPDIR="$scratch/reader-tmp" ./bare-reader
silent=1 measure "envelope pack" "rm -f packed" "${pack[@]}" --output packed
silent=1 measure "envelope verify" "" "$bin/envelope" verify installer
# Without its progress display, which would only slow it down here.
measure "makeself --nocomp archive" "rm -rf makeself-tmp/*" env TMPDIR="$scratch/makeself-tmp" ./archive.run --nox11 --noprogress

# The limit: one pass hashing and one pass copying, i.e. the sum of the
# md5sum and cp medians.
limit=$(awk -v a="${median[md5sum]}" -v b="${median[cp]}" 'BEGIN { print a + b }')
# calc EXPRESSION [DECIMALS]: the awk expression's value, rounded (default 2).
calc() { awk "BEGIN { printf \"%.${2:-2}f\", $1 }"; }
mib() { calc "${peak[$1]} / 1024"; }

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
ram=$(awk '/^MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo)
echo
echo "**Machine:** $(nproc) × $cpu, $ram RAM, Linux $(uname -r), scratch on $(df --output=fstype "$scratch" | tail -n 1), $(date -u '+%Y-%m-%d %H:%M UTC')"
echo
echo "**Run:** $SIZE_MIB MiB random payload, median of $RUNS runs after one warm-up, page cache warm; wall time and peak RSS from GNU time. Limit = md5sum + cp (sum of the two medians) = $(calc "$limit" 3) s."
echo
echo "| contender | median s | × limit | peak MiB |"
echo "|---|---:|---:|---:|"
for name in "${order[@]}"; do
  echo "| $name | $(calc "${median[$name]}" 3) | $(calc "${median[$name]} / $limit") | $(mib "$name") |"
done
echo "| limit: md5sum + cp | $(calc "$limit" 3) | 1.00 | |"

# check DESCRIPTION MEASURED CONDITION: one row of the target table; the
# condition is an awk expression.
failures=0
check() {
  local verdict=PASS
  awk "BEGIN { exit !($3) }" || { verdict=FAIL; failures=$((failures + 1)); }
  echo "| $1 | $2 | $verdict |"
}
s() { echo "${median[$1]}"; }
echo
echo "| target | measured | result |"
echo "|---|---|---|"
check "Md5Hasher ≥ 0.9× openssl md5 throughput" \
  "md5_file $(s 'md5_file (Md5Hasher)') s, openssl $(s 'openssl md5') s" \
  "$(s 'md5_file (Md5Hasher)') <= $(s 'openssl md5') / 0.9"
check "reader ≤ 1.15× limit" "$(calc "$(s 'reader, end to end') / $limit")×" \
  "$(s 'reader, end to end') <= 1.15 * $limit"
check "reader ≥ 3× faster than makeself" \
  "$(calc "$(s 'makeself --nocomp archive') / $(s 'reader, end to end')")×" \
  "3 * $(s 'reader, end to end') <= $(s 'makeself --nocomp archive')"
check "reader peak ≤ 16 MiB" "$(mib 'reader, end to end') MiB" "${peak['reader, end to end']} <= 16384"
check "no-envelope rejection ≤ 1 s" "$(s 'reader, no envelope') s" "$(s 'reader, no envelope') <= 1"
check "pack ≤ 1.15× limit" "$(calc "$(s 'envelope pack') / $limit")×" "$(s 'envelope pack') <= 1.15 * $limit"
check "pack peak ≤ 16 MiB" "$(mib 'envelope pack') MiB" "${peak['envelope pack']} <= 16384"
check "verify ≤ 1.1× md5sum" "$(calc "$(s 'envelope verify') / $(s md5sum)")×" \
  "$(s 'envelope verify') <= 1.1 * $(s md5sum)"
check "verify peak ≤ 16 MiB" "$(mib 'envelope verify') MiB" "${peak['envelope verify']} <= 16384"
echo
echo "$failures target(s) failed." >&2
((failures == 0))
