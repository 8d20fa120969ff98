#!/bin/sh
# Checks the shipped 32-bit reader.exe without running it: a 32-bit GUI
# program, linked statically (it imports from system DLLs only), passing text
# to the system through the wide calls only, with the
# DLL-planting guard's lookup, the manifest and the version
# resource, a code signature that osslsigncode accepts after signing, and no
# larger than 128 KiB (every installer carries it).
# Usage: check-win32-reader.sh READER.EXE SCRATCH-DIRECTORY
set -eu
reader=$1 scratch=$2
failures=0
check() {  # check DESCRIPTION COMMAND...
  description=$1
  shift
  if "$@" >/dev/null 2>&1; then
    echo "ok: $description"
  else
    echo "FAILED: $description"
    failures=$((failures + 1))
  fi
}

rm -rf "$scratch"
mkdir -p "$scratch"
headers="$scratch/headers.txt"
i686-w64-mingw32-objdump -p "$reader" >"$headers"

check "a PE32 file for i386" grep -q "file format pei-i386" "$headers"
check "the GUI subsystem" grep -Eq "^Subsystem[[:space:]]+00000002" "$headers"
check "ASLR, DEP and terminal-server aware (DllCharacteristics 0x8140)" \
  grep -Eq "^DllCharacteristics[[:space:]]+0000814[0-9a-f]" "$headers"
grep "DLL Name:" "$headers" | awk '{print toupper($3)}' | sort >"$scratch/dlls.txt"
printf 'GDI32.DLL\nKERNEL32.DLL\nMSVCRT.DLL\nSHELL32.DLL\nUSER32.DLL\n' >"$scratch/expected-dlls.txt"
check "imports from GDI32, KERNEL32, msvcrt, SHELL32 and USER32 only (no MinGW DLL)" \
  cmp -s "$scratch/dlls.txt" "$scratch/expected-dlls.txt"
for call in MessageBoxW ShellExecuteExW FormatMessageW CreateMutexW GetTempPathW \
  SetFilePointerEx FindFirstFileW RemoveDirectoryW SetCurrentDirectoryW GetCommandLineW \
  GetModuleFileNameW CreateFileW; do
  check "imports $call" grep -Eq "[[:space:]]$call\$" "$headers"
done
# Text is passed to the system in UTF-16 only: no ANSI twin of a call that
# takes or returns a name, a path or a message.
check "imports none of the ANSI calls for names, paths, messages or the command line" \
  sh -c "! grep -Eq '[[:space:]](MessageBox|ShellExecuteEx|FormatMessage|CreateMutex|GetTempPath|\
FindFirstFile|FindNextFile|RemoveDirectory|SetCurrentDirectory|GetCommandLine|GetModuleFileName|\
CreateFile|CreateDirectory|DeleteFile|GetFullPathName|GetFileAttributes)A\$' '$headers'"
check "does not import SetDefaultDllDirectories (looked up at run time)" \
  sh -c "! grep -q SetDefaultDllDirectories '$headers'"
check "names SetDefaultDllDirectories for the lookup" grep -q SetDefaultDllDirectories "$reader"
check "a manifest asking for asInvoker" grep -q 'level="asInvoker"' "$reader"
check "a manifest naming Windows 10/11 as supported" \
  grep -q '8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a' "$reader"
check "a version resource naming Quillmarrow" sh -c "strings -el '$reader' | grep -qx Quillmarrow"

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Quillmarrow Test Signing" \
  -addext extendedKeyUsage=codeSigning -keyout "$scratch/key.pem" -out "$scratch/cert.pem" \
  >"$scratch/signing.log" 2>&1
check "osslsigncode signs it" osslsigncode sign -certs "$scratch/cert.pem" \
  -key "$scratch/key.pem" -n Quillmarrow -in "$reader" -out "$scratch/signed.exe"
check "osslsigncode verifies the signature" osslsigncode verify -CAfile "$scratch/cert.pem" \
  -in "$scratch/signed.exe"

size=$(stat -c %s "$reader")
check "at most 128 KiB (131,072 bytes; it is $size)" test "$size" -le $((128 * 1024))

echo "size: $size bytes"
[ "$failures" -eq 0 ]
