#!/bin/sh
# The consumer's setup program: writes the greeting it was given and the
# data file packed beside it into the file named by its first argument.
marker=$1
greeting=$2
{
  echo "greeting: $greeting"
  cat payload.txt
} > "$marker"
echo "consumer setup wrote $marker"
