#include "platform_paths.h"

#include "platform.h"

namespace platform {

bool IsPathSeparator(char c) { return c == '/' || c == kPathSeparator; }

std::string WithoutTrailingSeparators(std::string path) {
  while (path.size() > 1 && IsPathSeparator(path.back())) path.pop_back();
  return path;
}

}  // namespace platform
