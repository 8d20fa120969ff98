#include "file_names.h"

#include <cstdint>

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

// Windows' device names, as the stem of a name before its first dot, less
// the spaces at its end: CON, PRN, AUX and NUL, and COM and LPT followed by
// a digit 1 to 9 (or, in UTF-8, a superscript 1, 2 or 3), in any case.
bool IsDeviceStem(std::string_view stem) {
  while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
  if (stem.size() < 3) return false;
  // The first three letters, in lower case, as one number.
  uint32_t letters = 0;
  for (size_t i = 0; i < 3; ++i) letters = letters << 8 | (static_cast<uint32_t>(stem[i]) | 0x20);
  const std::string_view digit = stem.substr(3);
  if (digit.empty()) {
    return letters == 0x636f6e || letters == 0x70726e || letters == 0x617578 ||
           letters == 0x6e756c;  // con, prn, aux, nul
  }
  return (letters == 0x636f6d || letters == 0x6c7074) &&  // com, lpt
         ((digit.size() == 1 && digit[0] >= '1' && digit[0] <= '9') || digit == "\xc2\xb9" ||
          digit == "\xc2\xb2" || digit == "\xc2\xb3");
}

}  // namespace

WindowsNameProblem WindowsNameProblemOf(std::string_view part) {
  if (part.empty()) return WindowsNameProblem::kEmpty;
  // The characters below 0x40 and from 0x40 to 0x7F Windows does not allow,
  // as bit masks: the controls and " * : < > ?, then \ and |.
  constexpr uint64_t kReservedLow = 0xFFFFFFFFull | 1ull << '"' | 1ull << '*' | 1ull << ':' |
                                    1ull << '<' | 1ull << '>' | 1ull << '?';
  constexpr uint64_t kReservedHigh = 1ull << ('\\' - 64) | 1ull << ('|' - 64);
  for (const char c : part) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 128 && ((byte < 64 ? kReservedLow : kReservedHigh) >> (byte & 63) & 1) != 0) {
      return WindowsNameProblem::kReservedCharacter;
    }
  }
  if (part.back() == '.' || part.back() == ' ') return WindowsNameProblem::kTrailingDotOrSpace;
  if (IsDeviceStem(part.substr(0, part.find('.')))) return WindowsNameProblem::kDeviceName;
  return WindowsNameProblem::kNone;
}

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
