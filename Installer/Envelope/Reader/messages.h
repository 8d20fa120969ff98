// Every text the reader shows, with its caption.
#pragma once

#include <string>

#include "platform.h"

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

inline constexpr char kInvalidArchiveCaption[] = "Invalid Archive!";
inline const std::string kInvalidArchiveText =
    std::string(
        "We are sorry, but your installation / update did not complete due to unexpected "
        "download errors.\r\nPlease download the whole Quillmarrow program from ") +
    kDownloadPageAddress;

inline constexpr char kFailedToOpenArchive[] = "Failed to open archive!";
inline constexpr char kFailedToInitializeArchive[] = "Failed to initialize archive!";
inline constexpr char kFailedToExtractFile[] = "Failed to extract file!";

inline constexpr char kUnhandledException[] = "Unhandled Exception";
inline constexpr char kNoContextAvailable[] = "No context available";

inline void Report(const Message& message) {
  platform::ReportMessage(message.text, message.caption);
}

inline void ReportInvalidArchive() {
  platform::ReportMessage(kInvalidArchiveText, kInvalidArchiveCaption);
}

}  // namespace reader
