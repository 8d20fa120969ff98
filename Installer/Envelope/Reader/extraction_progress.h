// How far the extraction has come, shown to the user while it runs long.
#pragma once

#include <cstdint>
#include <optional>

#include "platform_progress.h"
#include "progress_counter.h"
#include "reporting.h"

namespace reader {

// Nothing is shown before the extraction has run this long: quick runs never
// show a progress display.
inline constexpr int64_t kProgressDelayMilliseconds = 1000;

// Once shown, the display is refreshed at most this often (4 times a second).
inline constexpr int64_t kProgressRefreshMilliseconds = 250;

// How long showing and closing the progress window wait for its thread
// (Windows): a window that does not come or go in that time is given up, and
// the run goes on without it.
inline constexpr int kProgressWindowWaitMilliseconds = 5000;

// The rule of the progress display, apart from the clock and the display:
// when it is due, and with which percentage. Times are milliseconds of one
// monotonic clock.
class ProgressSchedule {
 public:
  // For an extraction of `total_bytes` that began at `start`.
  ProgressSchedule(int64_t total_bytes, int64_t start) : total_bytes_(total_bytes), start_(start) {}

  // The percentage (0 to 100, rounded down) to show when `processed_bytes`
  // of the total are done at `now`; nothing when no display is due: before
  // kProgressDelayMilliseconds have passed since the start, within
  // kProgressRefreshMilliseconds of the last percentage returned, or when
  // the percentage is the one last returned.
  std::optional<int> Due(int64_t processed_bytes, int64_t now);

 private:
  int64_t total_bytes_;
  int64_t start_;
  int64_t last_due_ = 0;
  int last_percent_ = -1;  // none returned yet
};

// The progress display of one extraction of `total_bytes`, timed from the
// object's creation: shown and refreshed as the schedule says, and closed
// when the object goes away, however the extraction ends, so always before
// the setup program starts. While it lives, it is the progress display of
// `messages`, which closes it before any message.
class ExtractionProgress final : public extraction::ProgressCounter {
 public:
  ExtractionProgress(int64_t total_bytes, MessageDestination& messages);
  ~ExtractionProgress();
  ExtractionProgress(const ExtractionProgress&) = delete;
  ExtractionProgress& operator=(const ExtractionProgress&) = delete;

  // `processed_bytes` of the total are done.
  void Reached(int64_t processed_bytes);

  // `bytes` more are done.
  void Advance(int64_t bytes) override { Reached(processed_bytes_ + bytes); }

  // Closes the display now; the schedule may show it again later.
  void Close() { display_.Close(); }

 private:
  ProgressSchedule schedule_;
  MessageDestination& messages_;
  platform::ProgressDisplay display_;
  int64_t processed_bytes_ = 0;
};

}  // namespace reader
