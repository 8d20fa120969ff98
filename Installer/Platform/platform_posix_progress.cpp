// The progress display on POSIX systems: one line on standard error,
// rewritten in place with a carriage return, and only when standard error is
// a terminal (a log file or a pipe gets nothing).
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform_posix_calls.h"
#include "platform_progress.h"

namespace platform {

namespace {

constexpr int kBarWidth = 20;

// Writes `text` to standard error, keeping errno: a display never changes
// what an operation reports.
void WriteToTerminal(const std::string& text) {
  const int error = errno;
  WriteAll(STDERR_FILENO, text.data(), text.size());
  errno = error;
}

}  // namespace

struct ProgressDisplay::State {
  size_t shown_length = 0;  // of the line on the terminal now; 0 while none is shown
};

void ProgressDisplay::Show(int percent) {
  if (state_ == nullptr || state_->shown_length == 0) {
    // Asked anew for each display: standard error may have been redirected
    // since the last one.
    const int error = errno;
    const bool terminal = isatty(STDERR_FILENO);
    errno = error;
    if (!terminal) return;
    if (state_ == nullptr) state_ = new State;
  }
  if (percent < 0) percent = 0;
  if (percent > 100) percent = 100;

  // "Preparing the installation   42% [########            ]"
  std::string line(settings_.line_text);
  const std::string number = std::to_string(percent);
  line.append(5 - number.size(), ' ');
  line += number + "% [";
  const int filled = percent * kBarWidth / 100;
  line.append(static_cast<size_t>(filled), '#');
  line.append(static_cast<size_t>(kBarWidth - filled), ' ');
  line += ']';
  state_->shown_length = line.size();
  WriteToTerminal('\r' + line);
}

ProgressDisplay::~ProgressDisplay() { Close(); }

void ProgressDisplay::Close() {
  if (state_ == nullptr) return;
  if (state_->shown_length != 0) {
    WriteToTerminal('\r' + std::string(state_->shown_length, ' ') + '\r');
  }
  delete state_;
  state_ = nullptr;
}

}  // namespace platform
