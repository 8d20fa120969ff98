// The state one run of the reader carries from step to step.
#pragma once

#include <string>

#include "variables.h"

namespace reader {

struct RunState {
  // The per-run directory; ends in the path separator once set up.
  std::string work_directory;
  // Built-ins, then every value and file key the envelope provides.
  format::VariableTable variables;
  // Set by the tail record, cleared by a digest mismatch.
  bool envelope_valid = false;
};

}  // namespace reader
