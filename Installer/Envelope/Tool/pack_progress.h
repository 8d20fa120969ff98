// How far `envelope pack` has come, shown on a terminal while a large
// installer is packed.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace tool {

// Nothing is shown before packing has run this long: quick runs show nothing.
inline constexpr int64_t kPackProgressDelayMilliseconds = 1000;

// Once shown, the line is rewritten at most this often (4 times a second).
inline constexpr int64_t kPackProgressRefreshMilliseconds = 250;

// The line shown when `done` of `total` bytes are packed:
// "packing 42% (12.5 of 30.0 MiB)". The percentage is rounded down and at
// most 100; a total of 0 is 100% done.
std::string PackProgressLine(uint64_t done, uint64_t total);

// The progress of packing `total_bytes`, timed from the object's creation:
// one line on standard error, rewritten in place ("\r"), only when standard
// error is a terminal, only once kPackProgressDelayMilliseconds have passed,
// at most every kPackProgressRefreshMilliseconds, and erased when the object
// goes away. Advance may be called from several threads at once.
class PackProgress {
 public:
  // Where the line goes (text to write as it is) and the clock (monotonic
  // milliseconds); an empty `terminal` shows nothing.
  using Terminal = std::function<void(std::string_view)>;
  using Clock = std::function<int64_t()>;

  explicit PackProgress(uint64_t total_bytes);
  // The same, writing to `terminal` and reading `clock` instead of standard
  // error and the system's clock: for tests.
  PackProgress(uint64_t total_bytes, Terminal terminal, Clock clock);
  ~PackProgress();
  PackProgress(const PackProgress&) = delete;
  PackProgress& operator=(const PackProgress&) = delete;

  // `bytes` more are packed; shows the line when it is due. A thread that
  // finds another one showing it leaves the showing to that one.
  void Advance(uint64_t bytes);

 private:
  const uint64_t total_bytes_;
  const Terminal terminal_;
  const Clock clock_;
  std::atomic<uint64_t> done_{0};
  std::atomic<int64_t> next_due_;  // when the line may be shown next
  std::mutex showing_;             // held by the thread writing the line
  size_t shown_length_ = 0;        // of the line on the terminal; 0 while none is shown
};

}  // namespace tool
