// Applying the envelope's groups: values into the variable table, files into
// the work directory.
#pragma once

#include <string>

#include "run_state.h"

namespace reader {

// Walks the envelope of the program file at `program_path` from its tail down
// to the stub group, applying each group to `state` as it is read: the tail
// makes the envelope valid, value and file groups add their variables, file
// groups are extracted to the work directory, leading option groups set the
// options, the stub group ends the walk. Nothing is rolled back when a later
// group fails. A digest mismatch makes the envelope invalid; a file that
// cannot be extracted is an install failure. Reports its own failures, but
// none after a caught interruption, which ends it at its next read.
void WalkEnvelope(const std::string& program_path, RunState& state);

}  // namespace reader
