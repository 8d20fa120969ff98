// Looking up the envelope's settings of the reader without walking it.
#pragma once

#include <string>

#include "options.h"

namespace reader {

// The options of the envelope in the program file at `program_path`, read
// from its leading option groups only (a few small records at its end); the
// defaults when they cannot be read. Nothing is reported.
format::ReaderOptions ReadEnvelopeOptions(const std::string& program_path);

}  // namespace reader
