// The state one run of the reader carries from step to step.
#pragma once

#include <string>
#include <vector>

#include "exit_codes.h"
#include "options.h"
#include "reporting.h"
#include "variables.h"

namespace reader {

struct RunState {
  // The per-run directory; ends in the path separator once set up.
  std::string work_directory;
  // Built-ins, then every value and file key the envelope provides.
  format::VariableTable variables;
  // Set by the tail record, cleared by a digest mismatch.
  bool envelope_valid = false;
  // The envelope's settings of the reader, from its leading option groups.
  format::ReaderOptions options;
  // The own failure that decides the exit code, when exit codes are asked for.
  RunFailure failure = RunFailure::kNone;
  // The setup program's exit code, once it has ended.
  int setup_exit_code = 0;
  // The dot-named directories the walk made in the work directory (full
  // paths): the end-of-run removal takes them too.
  std::vector<std::string> extracted_directories;
  // Where the run's messages go.
  MessageDestination messages;
};

}  // namespace reader
