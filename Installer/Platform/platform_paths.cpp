#include "platform_paths.h"

#include "platform_files.h"

namespace platform {

bool IsPathSeparator(char c) { return c == '/' || c == kPathSeparator; }

std::string_view WithoutTrailingSeparators(std::string_view path) {
  while (path.size() > 1 && IsPathSeparator(path.back())) path.remove_suffix(1);
  return path;
}

}  // namespace platform
