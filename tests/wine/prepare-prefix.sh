#!/bin/sh
# Creates the Wine prefix the Wine tests run in, once per build directory:
# headless, without the Mono and Gecko installers, and with the relay trace
# limited to the calls the tests read from it (the message boxes, the
# restriction of the DLL search at start-up, and window creation).
# Usage: prepare-prefix.sh WINE-LOADER PREFIX
set -eu
loader=$1 prefix=$2
relay="user32.MessageBoxA;kernel32.SetDefaultDllDirectories;user32.CreateWindowExW"
marker="$prefix/.prepared"
[ -e "$marker" ] && [ "$(cat "$marker")" = "$relay" ] && exit 0

rm -rf "$prefix"
mkdir -p "$prefix"
export WINEPREFIX="$prefix" WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all
unset DISPLAY WAYLAND_DISPLAY
log="$prefix.log"
"$loader" wineboot -i </dev/null >"$log" 2>&1
"$loader" reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ /d "$relay" /f \
  </dev/null >>"$log" 2>&1
wineserver -w </dev/null >>"$log" 2>&1
printf '%s' "$relay" >"$marker"
