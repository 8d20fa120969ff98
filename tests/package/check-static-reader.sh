#!/bin/sh
# Checks that a POSIX reader is fit to ship as the Linux stub: a 64-bit x86-64
# ELF program that asks for no dynamic loader (no PT_INTERP program header),
# names no shared library (no NEEDED entry), has no symbol table (stripped),
# and that file(1) calls statically linked. Prints its size and file(1)'s
# verdict; exits 1 naming the first property it lacks.
set -eu
reader=$1
fail() {
  echo "$reader: $*" >&2
  exit 1
}
[ -f "$reader" ] && [ -x "$reader" ] || fail "is not an executable file"
header=$(readelf -hW "$reader" 2>&1) || fail "is not an ELF file"
echo "$header" | grep -Eq '^ *Class: +ELF64$' || fail "is not a 64-bit ELF program"
echo "$header" | grep -Eq '^ *Machine: +Advanced Micro Devices X86-64$' || fail "is not an x86-64 program"
headers=$(readelf -lW "$reader")
if echo "$headers" | grep -Eq '^ *INTERP '; then
  fail "has a program interpreter (PT_INTERP): $(echo "$headers" | grep -o 'interpreter: [^]]*')"
fi
needed=$(readelf -dW "$reader" | grep -F '(NEEDED)' || true)
[ -z "$needed" ] || fail "needs shared libraries: $needed"
if readelf -SW "$reader" | grep -Eq ' \.symtab '; then fail "is not stripped (has .symtab)"; fi
verdict=$(file -b "$reader")
case "$verdict" in
  *"statically linked"*) ;;
  *) fail "is not statically linked according to file(1): $verdict" ;;
esac
echo "$reader: $(wc -c < "$reader") bytes"
echo "$reader: $verdict"
