#!/usr/bin/env bash
# Takes the screenshot of the Windows reader's progress window shown in the
# README (docs/progress-window.png): a 256 MiB installer on the 32-bit reader
# runs in a Wine desktop on a virtual display; it is held still (SIGSTOP) for
# 1.5 s once its first file is out, so that the window appears, and again
# while the picture is taken.
# Needs: cmake --preset win32 && cmake --build --preset win32, the native
# envelope tool (build/bin/envelope, or ENVELOPE=...), wine, xvfb-run,
# xwininfo and ImageMagick's import.
# Usage: scripts/progress-screenshot.sh [OUTPUT.png]
set -euo pipefail
cd "$(dirname "$0")/.."
output=${1:-docs/progress-window.png}
envelope=${ENVELOPE:-build/bin/envelope}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

export WINEPREFIX="$scratch/prefix" WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all
/usr/lib/wine/wine wineboot -i >/dev/null 2>&1
wineserver -w
cp build-win32/bin/recording_setup_gui.exe "$scratch/Setup.exe"
head -c 268435456 /dev/zero >"$scratch/payload.bin"
cat >"$scratch/manifest.toml" <<'TOML'
stub_name = "reader.exe"
[[file]]
name = "payload.bin"
source = "payload.bin"
[[file]]
key = "installer"
name = "Setup.exe"
source = "Setup.exe"
[[value]]
key = "executable"
text = "%installer%"
TOML
"$envelope" pack --stub build-win32/bin/reader.exe --manifest "$scratch/manifest.toml" \
  --output "$scratch/installer.exe" >/dev/null

export scratch output
xvfb-run --auto-servernum --server-args="-screen 0 480x200x24" bash -c '
  set -eu
  /usr/lib/wine/wine explorer /desktop=shot,480x200 "$scratch/installer.exe" &
  # The reader is a process of its own in the Wine desktop.
  for _ in $(seq 600); do
    reader=$(pgrep -f "installer.exe$" | grep -vx "$!" | head -n 1 || true)
    ls "$WINEPREFIX"/drive_c/users/*/Temp/SF*/Setup.exe >/dev/null 2>&1 && [ -n "$reader" ] && break
    sleep 0.01
  done
  kill -STOP "$reader"; sleep 1.5; kill -CONT "$reader"
  until xwininfo -root -tree | grep -q "\"Setup\""; do sleep 0.01; done
  sleep 0.3
  kill -STOP "$reader"
  import -window root "$output"
  kill -CONT "$reader"
  wait
' 2>/dev/null
wineserver -w
echo "$output"
