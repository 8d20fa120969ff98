// Which file names an envelope may extract.
#pragma once

#include <string_view>

namespace format {

// Whether `name` stays inside the directory it is extracted to: not absolute
// (no leading separator, no drive), no ".." component, split on "/" and "\",
// and no zero byte.
bool IsContainedFileName(std::string_view name);

}  // namespace format
