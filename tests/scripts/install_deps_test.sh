#!/usr/bin/env bash
# Runs scripts/install-deps.sh against stand-ins for apt-get, dpkg,
# dpkg-query, id and sudo placed first on the PATH, so that it needs neither
# root nor a network: an index that keeps failing to download, 32-bit Wine
# that apt cannot install, a needed package that apt cannot install, and a
# machine that lacks nothing.
# Usage: install_deps_test.sh INSTALL-DEPS.SH SCRATCH-DIRECTORY
set -euo pipefail
script=$1 scratch=$2
failures=0
check() {  # check DESCRIPTION COMMAND...
  local description=$1
  shift
  if "$@"; then
    echo "ok: $description"
  else
    echo "FAILED: $description"
    failures=$((failures + 1))
  fi
}

rm -rf "$scratch"
mkdir -p "$scratch/bin"
stubs=$scratch/bin

# apt-get: records each call; `update` fails the first $STUB_UPDATE_FAILURES
# times ("always": every time) on the 32-bit security index, as a mirror in
# the middle of a sync does; `install` (or `install -s`) fails for the
# packages in $STUB_BROKEN the way apt does: wine32:i386 with an unmet
# dependency, any other as unknown. Installed packages go to $STUB_STATE/installed.
cat >"$stubs/apt-get" <<'STUB'
#!/usr/bin/env bash
echo "apt-get $*" >>"$STUB_STATE/calls"
command="" simulate=0 packages=()
for argument in "$@"; do
  case "$argument" in
    update | install) command=$argument ;;
    -s) simulate=1 ;;
    -*) ;;
    *) packages+=("$argument") ;;
  esac
done
if [ "$command" = update ]; then
  count=$(($(cat "$STUB_STATE/updates" 2>/dev/null || echo 0) + 1))
  echo "$count" >"$STUB_STATE/updates"
  if [ "$STUB_UPDATE_FAILURES" = always ] || ((count <= STUB_UPDATE_FAILURES)); then
    echo "E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 203.0.113.80 80]" >&2
    echo "E: Some index files failed to download. They have been ignored, or old ones used instead." >&2
    exit 100
  fi
  exit 0
fi
for package in "${packages[@]}"; do
  if [[ " $STUB_BROKEN " == *" $package "* ]]; then
    if [ "$package" = wine32:i386 ]; then
      echo "Some packages could not be installed."
      echo "The following packages have unmet dependencies:"
      echo " wine32:i386 : Depends: libwine:i386 (= 8.0~repack-4) but it is not going to be installed"
      echo "E: Unable to correct problems, you have held broken packages." >&2
    else
      echo "E: Unable to locate package $package" >&2
    fi
    exit 100
  fi
done
if ((simulate == 0)); then printf '%s\n' "${packages[@]}" >>"$STUB_STATE/installed"; fi
STUB
cat >"$stubs/dpkg-query" <<'STUB'
#!/usr/bin/env bash
# dpkg-query -W -f='${Status}' PACKAGE
package=${*: -1}
grep -qxF "$package" "$STUB_STATE/installed" 2>/dev/null || exit 1
printf 'install ok installed'
STUB
cat >"$stubs/dpkg" <<'STUB'
#!/usr/bin/env bash
echo "dpkg $*" >>"$STUB_STATE/calls"
case "$1" in
  --print-foreign-architectures) cat "$STUB_STATE/architectures" 2>/dev/null || true ;;
  --add-architecture) echo "$2" >>"$STUB_STATE/architectures" ;;
  *) exit 2 ;;
esac
STUB
printf '#!/bin/sh\necho 1000\n' >"$stubs/id"
printf '#!/bin/sh\nexec "$@"\n' >"$stubs/sudo"
chmod +x "$stubs"/*

# run NAME [OPTION]: runs the script in state folder NAME, keeping its exit
# status, standard output and standard error there.
run() {
  local state=$scratch/$1
  shift
  mkdir -p "$state"
  status=0
  STUB_STATE=$state PATH="$stubs:$PATH" INSTALL_DEPS_RETRY_SECONDS=0 \
    "$script" "$@" >"$state/out" 2>"$state/err" || status=$?
  state_dir=$state
}
has_line() { grep -qxF -- "$1" "$state_dir/$2" 2>/dev/null; }
count() { if [ -f "$state_dir/$2" ]; then grep -c -- "$1" "$state_dir/$2" || true; else echo 0; fi; }

echo "-- --tests: an index that keeps failing, and 32-bit Wine that cannot be installed"
STUB_UPDATE_FAILURES=always STUB_BROKEN=wine32:i386 run broken-index --tests
check "exits 0" test "$status" -eq 0
check "adds the i386 architecture for 32-bit Wine" has_line "dpkg --add-architecture i386" calls
check "tries apt-get update three times" test "$(count '^apt-get update' calls)" -eq 3
for package in cmake g++ libcli11-dev zlib1g-dev libzstd-dev libgtest-dev g++-mingw-w64-i686-posix \
  dpkg-dev make wine64 xvfb; do
  check "installs $package" has_line "$package" installed
done
check "does not install wine32:i386" test "$(count '^wine32' installed)" -eq 0
check "one line on the indexes, going on" test "$(count 'apt-get update failed 3 times, going on' err)" -eq 1
check "one line on 32-bit Wine, naming the 64-bit build and apt's reason" \
  has_line "install-deps.sh: 32-bit Wine (wine32:i386) not installed, the Wine tests will run the 64-bit build: the i386 index http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz did not refresh, so i386 libraries lag behind their amd64 twins (apt says: wine32:i386 : Depends: libwine:i386 (= 8.0~repack-4) but it is not going to be installed)" err
check "nothing else on standard error" test "$(wc -l <"$state_dir/err")" -eq 2
cat "$state_dir/err"

echo "-- the build's packages only: an index that fails once"
STUB_UPDATE_FAILURES=1 STUB_BROKEN="" run build-only
check "exits 0" test "$status" -eq 0
check "tries apt-get update twice" test "$(count '^apt-get update' calls)" -eq 2
check "installs cmake, ninja-build, g++ and the libraries in one call" has_line \
  "apt-get install -y -qq --no-install-recommends cmake ninja-build g++ libtomlplusplus-dev libcli11-dev nlohmann-json3-dev zlib1g-dev libzstd-dev" calls
check "installs nothing else" test "$(count '^apt-get install' calls)" -eq 1
check "adds no architecture" test "$(count 'add-architecture' calls)" -eq 0
check "says nothing on standard error" test ! -s "$state_dir/err"

echo "-- again, with nothing missing"
rm "$state_dir/calls"
STUB_UPDATE_FAILURES=always STUB_BROKEN="" run build-only
check "exits 0" test "$status" -eq 0
check "calls no apt-get" test "$(count '^apt-get' calls)" -eq 0

echo "-- a needed package that cannot be installed"
STUB_UPDATE_FAILURES=always STUB_BROKEN=libcli11-dev run broken-package
check "exits non-zero" test "$status" -ne 0
check "one line naming the package and apt's reason" has_line \
  "install-deps.sh: cannot install libcli11-dev: Unable to locate package libcli11-dev" err
check "that line last" test "$(tail -n1 "$state_dir/err")" = \
  "install-deps.sh: cannot install libcli11-dev: Unable to locate package libcli11-dev"
tail -n1 "$state_dir/err"

echo "-- --tests, with indexes in step"
STUB_UPDATE_FAILURES=0 STUB_BROKEN="" run all-well --tests
check "exits 0" test "$status" -eq 0
check "installs wine32:i386 on its own" has_line \
  "apt-get install -y -q --no-install-recommends wine32:i386" calls
check "says nothing on standard error" test ! -s "$state_dir/err"

echo "failures: $failures"
((failures == 0))
