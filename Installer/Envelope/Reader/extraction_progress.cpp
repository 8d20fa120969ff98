#include "extraction_progress.h"

#include "messages.h"
#include "platform_progress.h"
#include "platform_system.h"

namespace reader {

namespace {

constexpr platform::ProgressSettings kProgressSettings = {kProgressCaption, kProgressWindowText,
                                                          kProgressLineText, kProgressWindowClass,
                                                          kProgressWindowWaitMilliseconds};

}  // namespace

std::optional<int> ProgressSchedule::Due(int64_t processed_bytes, int64_t now) {
  if (now - start_ < kProgressDelayMilliseconds) return std::nullopt;
  if (last_percent_ >= 0 && now - last_due_ < kProgressRefreshMilliseconds) return std::nullopt;
  int percent = 100;
  if (processed_bytes <= 0) {
    percent = 0;
  } else if (processed_bytes < total_bytes_) {
    percent = static_cast<int>(processed_bytes * 100 / total_bytes_);
  }
  if (percent == last_percent_) return std::nullopt;
  last_percent_ = percent;
  last_due_ = now;
  return percent;
}

ExtractionProgress::ExtractionProgress(int64_t total_bytes, MessageDestination& messages)
    : schedule_(total_bytes, platform::MonotonicMilliseconds()),
      messages_(messages),
      display_(kProgressSettings) {
  messages_.progress = this;
}

ExtractionProgress::~ExtractionProgress() { messages_.progress = nullptr; }

void ExtractionProgress::Reached(int64_t processed_bytes) {
  processed_bytes_ = processed_bytes;
  const std::optional<int> percent =
      schedule_.Due(processed_bytes, platform::MonotonicMilliseconds());
  if (percent) display_.Show(*percent);
}

}  // namespace reader
