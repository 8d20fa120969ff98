// Path text rules the same on every system, for the per-system files.
#pragma once

#include <string_view>

namespace platform {

// Whether `c` separates path components: kPathSeparator, and "/" on every
// system (Windows takes both).
bool IsPathSeparator(char c);

// `path` without the separators it ends in, but never emptied: a root ("/")
// stays as it is. A path with a separator at its end names a directory, so
// the system would follow a link there, which callers that must not follow
// links avoid this way.
std::string_view WithoutTrailingSeparators(std::string_view path);

}  // namespace platform
