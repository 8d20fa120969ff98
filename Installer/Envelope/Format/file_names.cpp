#include "file_names.h"

namespace format {

bool IsContainedFileName(std::string_view name) {
  // The system reads a name only up to a zero byte: what follows one would
  // escape the checks below ("..\0x" is opened as "..").
  if (name.find('\0') != std::string_view::npos) return false;
  if (!name.empty() && (name.front() == '/' || name.front() == '\\')) return false;
  if (name.size() >= 2 && name[1] == ':') return false;  // a drive, as in "C:x"
  size_t start = 0;
  for (;;) {
    const size_t end = name.find_first_of("/\\", start);
    if (name.substr(start, end - start) == "..") return false;
    if (end == std::string_view::npos) return true;
    start = end + 1;
  }
}

}  // namespace format
