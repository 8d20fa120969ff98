// The command-line forms of a plan's entries: --file KEY:NAME=PATH and
// --value KEY=TEXT.
#pragma once

#include <string_view>

#include "pack_plan.h"

namespace tool {

// Parses the flag forms KEY:NAME=PATH and KEY=TEXT, each split at its first
// colon and the first equals sign after it. Throws ToolError.
FileEntry ParseFileFlag(std::string_view flag);
ValueEntry ParseValueFlag(std::string_view flag);

}  // namespace tool
