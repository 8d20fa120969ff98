// What stands in for the reader's per-run work directory wherever the tool
// works out what the reader would make of an envelope's values without
// running it: the command line `envelope list` shows, and the launch values
// `envelope pack` checks.
#pragma once

#include <string>
#include <string_view>

namespace tool {

// The placeholder, as a listing shows it.
inline constexpr std::string_view kWorkDirectoryPlaceholder = "<work>";

// The placeholder as a work directory is given to the reader's variables and
// launch: ending in the separator of the stub's system, "\" when
// `windows_program`, else "/".
std::string PlaceholderWorkDirectory(bool windows_program);

}  // namespace tool
