#include "file_names.h"

namespace format {

namespace {

// The part of kTemporaryFilePrefix that a short 8.3 name keeps.
constexpr std::string_view kTemporaryNameStem(kTemporaryFilePrefix, 6);

bool StartsWithIgnoringCase(std::string_view text, std::string_view start) {
  if (text.size() < start.size()) return false;
  for (size_t i = 0; i < start.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != start[i]) return false;
  }
  return true;
}

}  // namespace

bool MayNameTemporaryFile(std::string_view name) {
  return AnyNameComponent(
      name, [](std::string_view part) { return StartsWithIgnoringCase(part, kTemporaryNameStem); });
}

bool IsContainedFileName(std::string_view name) {
  // The system reads a name only up to a zero byte: what follows one would
  // escape the checks below ("..\0x" is opened as "..").
  if (name.find('\0') != std::string_view::npos) return false;
  if (!name.empty() && (name.front() == '/' || name.front() == '\\')) return false;
  if (name.size() >= 2 && name[1] == ':') return false;  // a drive, as in "C:x"
  return !AnyNameComponent(name, [](std::string_view part) { return part == ".."; });
}

}  // namespace format
