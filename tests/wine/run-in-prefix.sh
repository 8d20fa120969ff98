#!/bin/sh
# Runs a Windows program in the tests' Wine prefix, its output going through a
# file rather than a pipe, and exits with its exit code.
# Usage: run-in-prefix.sh WINE-LOADER PREFIX PROGRAM [ARGUMENT...]
set -u
loader=$1 prefix=$2
shift 2
export WINEPREFIX="$prefix" WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all LANG=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY LC_ALL LC_CTYPE
log=$(mktemp)
"$loader" "$@" </dev/null >"$log" 2>&1
status=$?
cat "$log"
rm -f "$log"
exit $status
