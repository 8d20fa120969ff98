#include "reporting.h"

#include "extraction_progress.h"
#include "platform_files.h"
#include "platform_messages.h"

namespace reader {

void ReportMessage(const MessageDestination& destination, std::string_view text,
                   std::string_view caption) {
  if (destination.progress != nullptr) destination.progress->Close();
  // Where no one could dismiss a box it would wait for ever: log instead.
  if (platform::MessagesCanBeShown()) {
    platform::ShowMessage(text, caption);
  } else {
    AppendToMessageLog(destination.log, text, caption);
  }
}

bool AppendToMessageLog(const std::string& log, std::string_view text, std::string_view caption) {
  if (log.empty()) return false;
  std::string line(caption);
  line += ": ";
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') {
      line += text[i];
    } else if (!(text[i] == '\n' && i > 0 && text[i - 1] == '\r')) {
      line += ' ';  // "\r\n", "\r" or "\n": one line break, one space
    }
  }
  line += "\r\n";
  return platform::AppendToLogFile(log, line);
}

}  // namespace reader
