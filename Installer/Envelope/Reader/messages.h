// Every text the reader shows, with its caption. How a message reaches the
// user is in reporting.h.
#pragma once

#include <array>
#include <cstddef>

namespace reader {

// The product's download page, where the invalid-envelope message sends the
// user for a complete copy.
inline constexpr char kDownloadPageAddress[] = "https://www.quillmarrow.com/download";

struct Message {
  const char* text;
  const char* caption;
};

inline constexpr Message kAlreadyRunning = {
    "Another installation is already running or in the process of starting up.\n"
    "Please wait until the other installation has completed before trying again.",
    "Already Running"};
inline constexpr Message kNoTemporaryPath = {"Unable to get Temporary Directory",
                                             "GetTempPath failed"};
inline constexpr Message kCannotEnterWorkDirectory = {"Unable to set Working Directory",
                                                      "SetCurrentDirectory failed"};
inline constexpr Message kSpawnFailed = {"Unable to spawn process", "ShellExecuteEx failed"};
inline constexpr Message kWaitFailed = {"Unable to wait for process", "WaitForSingleObject failed"};

// `first` followed by `second`, one zero-terminated text made at compile
// time (so that no text needs building when the program starts).
template <size_t kFirst, size_t kSecond>
constexpr std::array<char, kFirst + kSecond - 1> JoinTexts(const char (&first)[kFirst],
                                                           const char (&second)[kSecond]) {
  std::array<char, kFirst + kSecond - 1> joined{};
  for (size_t i = 0; i + 1 < kFirst; ++i) joined[i] = first[i];
  for (size_t i = 0; i < kSecond; ++i) joined[kFirst - 1 + i] = second[i];
  return joined;
}

inline constexpr char kInvalidArchiveCaption[] = "Invalid Archive!";
inline constexpr auto kInvalidArchiveText = JoinTexts(
    "We are sorry, but your installation / update did not complete due to unexpected "
    "download errors.\r\nPlease download the whole Quillmarrow program from ",
    kDownloadPageAddress);

inline constexpr char kFailedToOpenArchive[] = "Failed to open archive!";
inline constexpr char kFailedToInitializeArchive[] = "Failed to initialize archive!";
inline constexpr char kFailedToExtractFile[] = "Failed to extract file!";

inline constexpr char kUnhandledException[] = "Unhandled Exception";
inline constexpr char kNoContextAvailable[] = "No context available";

// The progress display of a long extraction: a window captioned "Setup" with
// its line of text (Windows); the start of a terminal line, which the
// percentage and a bar follow (POSIX).
inline constexpr char kProgressCaption[] = "Setup";
inline constexpr char kProgressWindowText[] = "Preparing the installation...";
inline constexpr char kProgressLineText[] = "Preparing the installation";
// The name of the progress window's class (Windows).
inline constexpr char kProgressWindowClass[] = "QuillmarrowProgress";

}  // namespace reader
