// The reader's messages as the tests expect them. Written out here, not taken
// from the reader's own texts, so that a changed message fails a test.
#pragma once

#include <string>

namespace test {

// Each message's caption and text, as a Windows reader shows them in a
// message box (tests/wine).
inline constexpr char kInvalidArchiveCaption[] = "Invalid Archive!";
inline constexpr char kInvalidArchiveText[] =
    "We are sorry, but your installation / update did not complete due to unexpected download "
    "errors.\r\nPlease download the whole Quillmarrow program from "
    "https://www.quillmarrow.com/download";

inline constexpr char kAlreadyRunningCaption[] = "Already Running";
inline constexpr char kAlreadyRunningText[] =
    "Another installation is already running or in the process of starting up.\nPlease wait "
    "until the other installation has completed before trying again.";

inline constexpr char kSpawnFailedCaption[] = "ShellExecuteEx failed";
inline constexpr char kSpawnFailedText[] = "Unable to spawn process";

// The same messages as a POSIX reader reports them on standard error, each a
// line "caption: text" (a line break in the text as "\n").
inline const std::string kInvalidArchiveReport =
    "Invalid Archive!: We are sorry, but your installation / update did not complete due to "
    "unexpected download errors.\nPlease download the whole Quillmarrow program from "
    "https://www.quillmarrow.com/download\n";

inline const std::string kAlreadyRunningReport =
    "Already Running: Another installation is already running or in the process of starting "
    "up.\nPlease wait until the other installation has completed before trying again.\n";

inline const std::string kSpawnFailedReport = "ShellExecuteEx failed: Unable to spawn process\n";

inline const std::string kCannotEnterReport =
    "SetCurrentDirectory failed: Unable to set Working Directory\n";

}  // namespace test
