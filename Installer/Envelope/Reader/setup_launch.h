// Starting the packed setup program and waiting for it.
#pragma once

#include "run_state.h"

namespace reader {

// Starts work directory + expanded `executable` with the expanded `parameters`
// (both read with entry access, so absent ones become empty), in the work
// directory, and waits until it has ended. Keeps the program's exit code in
// `state`; reports a failed start or wait, and notes either as an install
// failure. A value that cannot be expanded (see ExpandVariables) is reported
// as a failed start.
void LaunchSetupProgram(RunState& state);

}  // namespace reader
