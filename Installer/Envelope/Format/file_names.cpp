#include "file_names.h"

namespace format {

bool IsContainedFileName(std::string_view name) {
  // The system reads a name only up to a zero byte: what follows one would
  // escape the checks below ("..\0x" is opened as "..").
  if (name.find('\0') != std::string_view::npos) return false;
  if (!name.empty() && (name.front() == '/' || name.front() == '\\')) return false;
  if (name.size() >= 2 && name[1] == ':') return false;  // a drive, as in "C:x"
  return !AnyNameComponent(name, [](std::string_view part) { return part == ".."; });
}

}  // namespace format
