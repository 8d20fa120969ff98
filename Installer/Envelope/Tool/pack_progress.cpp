#include "pack_progress.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "platform_system.h"

namespace tool {

namespace {

bool StandardErrorIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(STDERR_FILENO) != 0;
#endif
}

// Standard error when it is a terminal; else nothing, so that a log or a
// pipe gets no line rewritten in place.
PackProgress::Terminal StandardErrorIfTerminal() {
  if (!StandardErrorIsTerminal()) return {};
  return [](std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
  };
}

}  // namespace

std::string PackProgressLine(uint64_t done, uint64_t total) {
  done = std::min(done, total);
  const uint64_t percent =
      total == 0 ? 100 : static_cast<uint64_t>(static_cast<long double>(done) * 100 / total);
  constexpr double kMiB = 1024.0 * 1024.0;
  char line[96];
  std::snprintf(line, sizeof line, "packing %u%% (%.1f of %.1f MiB)",
                static_cast<unsigned>(percent), static_cast<double>(done) / kMiB,
                static_cast<double>(total) / kMiB);
  return line;
}

PackProgress::PackProgress(uint64_t total_bytes)
    : PackProgress(total_bytes, StandardErrorIfTerminal(), platform::MonotonicMilliseconds) {}

PackProgress::PackProgress(uint64_t total_bytes, Terminal terminal, Clock clock)
    : total_bytes_(total_bytes),
      terminal_(std::move(terminal)),
      clock_(std::move(clock)),
      next_due_(clock_() + kPackProgressDelayMilliseconds) {}

PackProgress::~PackProgress() {
  const std::lock_guard<std::mutex> lock(showing_);
  if (shown_length_ != 0) terminal_('\r' + std::string(shown_length_, ' ') + '\r');
}

void PackProgress::Advance(uint64_t bytes) {
  const uint64_t done = done_.fetch_add(bytes) + bytes;
  if (!terminal_) return;
  const int64_t now = clock_();
  if (now < next_due_.load()) return;
  std::unique_lock<std::mutex> lock(showing_, std::try_to_lock);
  if (!lock.owns_lock() || now < next_due_.load()) return;  // another thread shows it
  next_due_.store(now + kPackProgressRefreshMilliseconds);
  std::string line = PackProgressLine(std::max(done, done_.load()), total_bytes_);
  const size_t length = line.size();
  // Spaces over what a longer line before left on the terminal.
  if (length < shown_length_) line.append(shown_length_ - length, ' ');
  terminal_('\r' + line);
  shown_length_ = std::max(length, shown_length_);
}

}  // namespace tool
