#include "work_directory_placeholder.h"

namespace tool {

std::string PlaceholderWorkDirectory(bool windows_program) {
  return std::string(kWorkDirectoryPlaceholder) + (windows_program ? "\\" : "/");
}

}  // namespace tool
