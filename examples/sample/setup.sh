#!/bin/sh
# A stand-in setup program: shows what the installer handed it.
echo "Sample setup program"
echo "  working directory: $(pwd)"
echo "  arguments: $#"
n=1
for argument in "$@"; do
  echo "    [$n] $argument"
  n=$((n + 1))
done
echo "  files beside it:"
for file in *; do
  echo "    $file ($(wc -c < "$file") bytes)"
done
