// Facts about Windows (PE) program files that packing and listing need.
#pragma once

#include "platform.h"

namespace tool {

struct WindowsProgramFacts {
  bool is_windows_program = false;  // an MZ file with a PE header
  bool has_signature = false;       // its certificate table is not empty
};

// Reads the headers of the file; leaves the position at the start.
WindowsProgramFacts InspectWindowsProgram(platform::File& file);

}  // namespace tool
