#include "work_directory.h"

#include <vector>

#include "platform.h"

namespace reader {

namespace {

// "SF" + the low 32 bits of `seconds` as a signed decimal.
std::string RunName(int64_t seconds) {
  const auto low = static_cast<int32_t>(static_cast<uint32_t>(seconds));
  return "SF" + std::to_string(low);
}

}  // namespace

std::string PerRunDirectory(const std::string& temporary_path, int64_t seconds) {
  return temporary_path + RunName(seconds) + platform::kPathSeparator;
}

std::string PerRunMessageLog(const std::string& temporary_path, int64_t seconds) {
  return temporary_path + RunName(seconds) + ".log";
}

namespace {

// The retry time one tree removal has left, shared by all of its deletions.
class RetryTime {
 public:
  // Retries `remove` while it fails and time is left.
  template <typename Deletion>
  bool Remove(Deletion remove) {
    while (!remove()) {
      if (left_ <= 0) return false;
      platform::Pause(platform::kRemovalRetryPauseMilliseconds);
      left_ -= platform::kRemovalRetryPauseMilliseconds;
    }
    return true;
  }

 private:
  int left_ = platform::kRemovalRetryMilliseconds;
};

bool RemoveTree(const std::string& path, RetryTime& retry) {
  std::string directory = path;
  if (!directory.ends_with('\\') && !directory.ends_with('/')) {
    directory += platform::kPathSeparator;
  }

  std::vector<platform::DirectoryEntry> entries;
  if (!platform::ListDirectory(directory, entries)) return false;
  for (const platform::DirectoryEntry& entry : entries) {
    const std::string entry_path = directory + entry.name;
    if (!entry.is_directory) {
      retry.Remove([&] { return platform::RemoveFile(entry_path); });
    } else if (!entry.name.starts_with('.')) {
      RemoveTree(entry_path, retry);
    }
  }
  return retry.Remove([&] { return platform::RemoveEmptyDirectory(directory); });
}

}  // namespace

bool RemoveDirectoryTree(const std::string& path) {
  RetryTime retry;
  return RemoveTree(path, retry);
}

}  // namespace reader
