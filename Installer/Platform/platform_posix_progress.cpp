// The progress display on POSIX systems: one line on standard error,
// rewritten in place with a carriage return, and only when standard error is
// a terminal (a log file or a pipe gets nothing).
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform.h"

namespace platform {

namespace {

constexpr char kProgressText[] = "Preparing the installation";
constexpr int kBarWidth = 20;

bool line_shown = false;
size_t shown_length = 0;  // of the line on the terminal now

void WriteToTerminal(const std::string& text) {
  const int error = errno;
  const char* data = text.data();
  size_t size = text.size();
  while (size > 0) {
    const ssize_t written = write(STDERR_FILENO, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) break;
    data += written;
    size -= static_cast<size_t>(written);
  }
  errno = error;
}

}  // namespace

int64_t MonotonicMilliseconds() {
  timespec now = {};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void ShowProgress(int percent) {
  if (!line_shown) {
    // Asked anew for each display: standard error may have been redirected
    // since the last one.
    const int error = errno;
    const bool terminal = isatty(STDERR_FILENO);
    errno = error;
    if (!terminal) return;
  }
  if (percent < 0) percent = 0;
  if (percent > 100) percent = 100;

  // "Preparing the installation   42% [########            ]"
  std::string line = kProgressText;
  const std::string number = std::to_string(percent);
  line.append(5 - number.size(), ' ');
  line += number + "% [";
  const int filled = percent * kBarWidth / 100;
  line.append(static_cast<size_t>(filled), '#');
  line.append(static_cast<size_t>(kBarWidth - filled), ' ');
  line += ']';
  shown_length = line.size();
  WriteToTerminal('\r' + line);
  line_shown = true;
}

void CloseProgress() {
  if (!line_shown) return;
  WriteToTerminal('\r' + std::string(shown_length, ' ') + '\r');
  line_shown = false;
}

}  // namespace platform
