// The reader's messages as the tests expect them. Written out here, not taken
// from the reader's own texts, so that a changed message fails a test.
#pragma once

#include <string>
#include <string_view>

namespace test {

inline constexpr char kInvalidArchiveCaption[] = "Invalid Archive!";
inline constexpr char kInvalidArchiveText[] =
    "We are sorry, but your installation / update did not complete due to unexpected download "
    "errors.\r\nPlease download the whole Quillmarrow program from "
    "https://www.quillmarrow.com/download";

// A message as the POSIX reader reports it on standard error: "caption:
// text" and a line break, with "\r\n" or a lone "\r" in the text as "\n".
inline std::string PosixReport(std::string_view caption, std::string_view text) {
  std::string line = std::string(caption) + ": ";
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') {
      line += text[i];
    } else {
      line += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    }
  }
  return line + "\n";
}

inline const std::string kInvalidArchiveReport =
    PosixReport(kInvalidArchiveCaption, kInvalidArchiveText);

inline constexpr char kAlreadyRunningCaption[] = "Already Running";
inline constexpr char kAlreadyRunningText[] =
    "Another installation is already running or in the process of starting up.\nPlease wait "
    "until the other installation has completed before trying again.";
inline const std::string kAlreadyRunningReport =
    PosixReport(kAlreadyRunningCaption, kAlreadyRunningText);

inline constexpr char kSpawnFailedCaption[] = "ShellExecuteEx failed";
inline constexpr char kSpawnFailedText[] = "Unable to spawn process";
inline const std::string kSpawnFailedReport = PosixReport(kSpawnFailedCaption, kSpawnFailedText);

inline const std::string kCannotEnterReport =
    "SetCurrentDirectory failed: Unable to set Working Directory\n";

}  // namespace test
