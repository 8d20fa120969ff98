#!/bin/sh
# Creates the Wine prefix the Wine tests run in, once per build directory:
# headless, without the Mono and Gecko installers, and with the relay trace
# limited to the calls the tests read from it (the message boxes, the
# restriction of the DLL search at start-up, and window creation) made by the
# program itself.
# Usage: prepare-prefix.sh WINE-LOADER PREFIX
set -eu
loader=$1 prefix=$2
relay="user32.MessageBoxW;kernel32.SetDefaultDllDirectories;user32.CreateWindowExW"
# Calls from the system's own DLLs are not traced (Wine's default list, and
# the shell, whose ShellExecuteEx shows its own error box): the trace holds
# what the program itself called.
relay_from_exclude="winex11.drv;winemac.drv;user32;gdi32;advapi32;kernel32;shell32;shlwapi"
marker="$prefix/.prepared"
[ -e "$marker" ] && [ "$(cat "$marker")" = "$relay $relay_from_exclude" ] && exit 0

rm -rf "$prefix"
mkdir -p "$prefix"
# A UTF-8 locale, as the tests use: Unix names reach Wine intact.
export WINEPREFIX="$prefix" WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all LANG=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY LC_ALL LC_CTYPE
log="$prefix.log"
"$loader" wineboot -i </dev/null >"$log" 2>&1
"$loader" reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ /d "$relay" /f \
  </dev/null >>"$log" 2>&1
"$loader" reg add 'HKCU\Software\Wine\Debug' /v RelayFromExclude /t REG_SZ \
  /d "$relay_from_exclude" /f </dev/null >>"$log" 2>&1
wineserver -w </dev/null >>"$log" 2>&1
printf '%s' "$relay $relay_from_exclude" >"$marker"
