#!/usr/bin/env bash
# Usage: fetch-debian-source.sh PACKAGE VERSION DEST
#
# Unpacks Debian's source package PACKAGE at VERSION into the folder DEST,
# downloaded from the Debian archives this machine installs from: apt checks
# the signed release file, the source index it names and the checksums of
# the .dsc and the tarballs it lists, and dpkg-source checks them again as it
# unpacks and applies Debian's patches. When the source of VERSION cannot be
# downloaded (a mirror may carry a security update's binaries before its
# source), the newest revision of the same upstream version that can be is
# taken instead. Prints one line naming the version unpacked and why; on
# failure, one line on standard error saying why, and exits 1.
#
# Needs no root: apt runs with a private configuration (the machine's
# sources as deb-src entries, its trusted keys and proxy settings; index
# and downloads in DEST.apt), so the machine's own package state is left
# alone. A DEST already unpacked for the same PACKAGE and VERSION is kept
# as it is, so a rebuild downloads nothing.
set -euo pipefail
name=fetch-debian-source.sh
if [ $# -ne 3 ]; then
  echo "usage: $name PACKAGE VERSION DEST" >&2
  exit 2
fi
package=$1 wanted=$2 dest=$3
stamp=$dest/.debian-source
request="$package $wanted"

if [ -f "$stamp" ] && [ "$(head -n1 "$stamp")" = "$request" ]; then
  sed -n 2p "$stamp"
  exit 0
fi
for tool in apt-get apt-cache apt-config dpkg dpkg-source; do
  command -v "$tool" >/dev/null ||
    { echo "$name: $tool is missing (Debian: apt, dpkg-dev)" >&2; exit 1; }
done

work=$dest.apt
rm -rf "$dest" "$work"
mkdir -p "$work/sources.list.d" "$work/state/lists/partial" "$work/cache/archives/partial" \
  "$work/download"
work=$(cd "$work" && pwd)
log=$work/log

# The machine's sources, each turned into a source entry for the same
# archive, suites and components; their options (signed-by) are kept.
sourcelist="" sourceparts=""
eval "$(apt-config shell sourcelist Dir::Etc::sourcelist/f sourceparts Dir::Etc::sourceparts/d)"
if [ -f "$sourcelist" ]; then
  sed -nE 's/^[[:space:]]*deb([[:space:]])/deb-src\1/p' "$sourcelist" >"$work/sources.list"
fi
for file in "$sourceparts"*.list; do
  [ -f "$file" ] || continue
  sed -nE 's/^[[:space:]]*deb([[:space:]])/deb-src\1/p' "$file" >"$work/sources.list.d/${file##*/}"
done
for file in "$sourceparts"*.sources; do
  [ -f "$file" ] || continue
  sed -E 's/^Types:.*/Types: deb-src/I' "$file" >"$work/sources.list.d/${file##*/}"
done

# Only the sources, state and cache are redirected: the trusted keys and the
# configuration fragments (a proxy, say) stay the machine's. A download that
# fails is tried again a few times, as a mirror may be briefly out of step.
cat >"$work/apt.conf" <<EOF
Dir::Etc::sourcelist "$work/sources.list";
Dir::Etc::sourceparts "$work/sources.list.d";
Dir::State "$work/state";
Dir::Cache "$work/cache";
Acquire::Retries "3";
EOF
export APT_CONFIG=$work/apt.conf

# first_error LOG: apt's first error in LOG (else the first download it
# failed, which apt-get update only warns about), in one line; a download
# that failed as "WHY: URL".
first_error() {
  local line
  line=$(grep -m1 '^E: ' "$1" || grep -m1 '^W: Failed to fetch ' "$1" || true)
  echo "${line#?: }" | sed -E -e 's/  +/ /g' -e 's/ *\[IP: [^]]*\]$//' \
    -e 's/^Failed to fetch ([^ ]+) (.*)$/\2: \1/'
}

# An index that fails to download (one of a third-party archive without
# sources, say) leaves the others usable; apt-get source says below whether
# the package is among them.
apt-get update -q </dev/null >"$log" 2>&1 || true
update_error=$(first_error "$log")

# The revisions of the same upstream version (epoch included) that the
# indexes list, newest first, after VERSION itself.
upstream=${wanted%-*}
mapfile -t listed < <(apt-cache showsrc --only-source "$package" 2>/dev/null |
  sed -n 's/^Version: //p' | sort -u)
others=()
for version in "${listed[@]}"; do
  if [ "$version" = "$wanted" ] || [ "${version%-*}" != "$upstream" ]; then continue; fi
  position=0
  while ((position < ${#others[@]})) &&
    dpkg --compare-versions "${others[position]}" gt "$version"; do
    position=$((position + 1))
  done
  others=("${others[@]:0:position}" "$version" "${others[@]:position}")
done

why_not="" reason=""
for version in "$wanted" "${others[@]}"; do
  # With nothing to read on standard input, apt refuses a download it could
  # not authenticate instead of asking whether to take it.
  rm -rf "${work:?}/download"/*
  status=0
  (cd "$work/download" && apt-get source -q --download-only "$package=$version" </dev/null) \
    >"$work/attempt" 2>&1 || status=$?
  cat "$work/attempt" >>"$log"
  if ((status != 0)); then
    reason=$(first_error "$work/attempt")
    if [ "$version" = "$wanted" ]; then why_not=$reason; fi
    continue
  fi
  # dpkg-source checks the tarballs against the .dsc's checksums, then
  # applies Debian's patches.
  dsc=$(find "$work/download" -maxdepth 1 -name '*.dsc' | head -n1)
  if ! dpkg-source --no-copy -x "$dsc" "$dest" >>"$log" 2>&1; then
    echo "$name: dpkg-source could not unpack $package $version ($(tail -n1 "$log"))" >&2
    exit 1
  fi
  if [ "$version" = "$wanted" ]; then
    line="$package $version, the version asked for"
  else
    line="$package $version, the newest revision of $upstream whose source can be downloaded;"
    line+=" that of $wanted cannot (${why_not:-not in the source indexes})"
  fi
  printf '%s\n%s\n' "$request" "$line" >"$stamp"
  rm -rf "$work"
  echo "$line"
  exit 0
done

reason=${reason:-the source indexes list none}
if [ -n "$update_error" ]; then reason="updating the source indexes failed: $update_error; then: $reason"; fi
echo "$name: no source of $package $wanted or of another revision of $upstream can be" \
  "downloaded ($reason; apt's output: $log)" >&2
exit 1
