// Which file names an envelope may extract.
#pragma once

#include <cstddef>
#include <string_view>

namespace format {

// The longest file name, in UTF-8 bytes, that either system could accept as
// a path: Windows' 32,767 UTF-16 units, each at most 3 bytes of UTF-8 (POSIX
// paths are shorter still). A longer name can never be extracted, so a
// reader holds no more of it than this and one byte, enough to tell.
inline constexpr size_t kMostFileNameBytes = 32767 * 3;

// Whether `name` is longer than any path either system accepts.
constexpr bool IsFileNameTooLong(std::string_view name) { return name.size() > kMostFileNameBytes; }

// Whether `test` holds for any component of `name`, split on "/" and "\"
// as both systems' paths are (empty components included).
template <typename Test>
bool AnyNameComponent(std::string_view name, Test test) {
  size_t start = 0;
  for (;;) {
    const size_t end = name.find_first_of("/\\", start);
    if (test(name.substr(start, end - start))) return true;
    if (end == std::string_view::npos) return false;
    start = end + 1;
  }
}

// Extraction writes a file's bytes under a temporary name first, in the
// directory it extracts to: this prefix followed by a number.
inline constexpr char kTemporaryFilePrefix[] = "~extracting-";

// Whether the file name `name` may stand for a temporary file: a component
// of it begins with the prefix's first six characters, in any case. That
// covers the temporary names themselves, in any spelling a case-blind file
// system takes for them, and the short 8.3 names Windows may give them
// ("~EXTRA~1").
bool MayNameTemporaryFile(std::string_view name);

// Why Windows could not hold `part`, one name of a path (no separator), as
// the name it is: it would refuse it, or make another name or a device of it.
enum class WindowsNameProblem {
  kNone,
  kEmpty,
  // < > : " | ? * \ or a control character (0 to 31); ":" would also name
  // a stream of a file.
  kReservedCharacter,
  kTrailingDotOrSpace,  // dropped: "a." and "a " are "a"
  // CON, PRN, AUX, NUL, COM1 to COM9 and LPT1 to LPT9 (also with the
  // superscript digits 1, 2 and 3), in any case, alone or before a dot,
  // spaces between them ignored ("nul .txt").
  kDeviceName,
};
WindowsNameProblem WindowsNameProblemOf(std::string_view part);

// Whether `name` stays inside the directory it is extracted to: not absolute
// (no leading separator, no drive), no ".." component, split on "/" and "\",
// and no zero byte.
bool IsContainedFileName(std::string_view name);

}  // namespace format
