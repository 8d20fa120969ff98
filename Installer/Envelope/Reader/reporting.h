// Where the reader's messages go: shown to the user, or, where no one could
// see them, written to the run's message log.
#pragma once

#include <string>
#include <string_view>

#include "messages.h"

namespace reader {

class ExtractionProgress;

// Where one run's messages go.
struct MessageDestination {
  // The log for messages no one could see; empty: there is none yet.
  std::string log;
  // The progress display of the extraction under way, closed before a
  // message so that it never hides or outlives one; null when none runs.
  ExtractionProgress* progress = nullptr;
};

// Closes the progress display of `destination`, then shows the message (see
// platform::ShowMessage) and returns once it has been seen. Where no one
// could see it (platform::MessagesCanBeShown: a service, a deployment agent)
// it is appended to the log instead (AppendToMessageLog), dropped without
// one, and the run goes on as after a dismissed box. Keeps the last error.
void ReportMessage(const MessageDestination& destination, std::string_view text,
                   std::string_view caption);

inline void Report(const MessageDestination& destination, const Message& message) {
  ReportMessage(destination, message.text, message.caption);
}

inline void ReportInvalidArchive(const MessageDestination& destination) {
  ReportMessage(destination, kInvalidArchiveText.data(), kInvalidArchiveCaption);
}

// Appends the message to the message log `log` as one line "caption: text"
// (UTF-8, each line break of the text, "\r\n", "\r" or "\n", written as one
// space, the line ended by "\r\n"). False when `log` is empty or cannot be
// written. Keeps the last error.
bool AppendToMessageLog(const std::string& log, std::string_view text, std::string_view caption);

}  // namespace reader
