// The setup program the native suites pack: a shell script that records what
// the reader gave it into the directory $SETUP_RECORD:
//   cwd        its working directory
//   arg0 ...   each argument, one file each, and their number in argc
//   args       the arguments, one a line
//   files/     a copy of the files around it
// With $SETUP_RELEASE set it then says so (the file started) and waits until
// the file $SETUP_RELEASE exists. It exits with 0.
#pragma once

namespace test {

inline constexpr char kRecordingSetup[] = R"(#!/bin/sh
r="$SETUP_RECORD"
pwd -P > "$r/cwd"
i=0
for a in "$@"; do printf '%s' "$a" > "$r/arg$i"; i=$((i + 1)); done
echo $i > "$r/argc"
printf '%s\n' "$@" > "$r/args"
mkdir -p "$r/files" && cp -R . "$r/files/"
if [ -n "$SETUP_RELEASE" ]; then
  : > "$r/started"
  while [ ! -e "$SETUP_RELEASE" ]; do sleep 0.05; done
fi
)";

}  // namespace test
