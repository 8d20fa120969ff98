// Messages on POSIX systems: "caption: text" on standard error, which anyone
// who started the program can read.
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform_messages.h"
#include "platform_posix_calls.h"

namespace platform {

void ShowMessage(std::string_view text, std::string_view caption) {
  std::string line(caption);
  line += ": ";
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') {
      line += text[i];
      continue;
    }
    line += '\n';
    if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
  }
  line += '\n';
  const int error = errno;
  WriteAll(STDERR_FILENO, line.data(), line.size());
  errno = error;
}

bool MessagesCanBeShown() { return true; }

}  // namespace platform
