#include "work_directory.h"

#include <algorithm>

#include <vector>

#include "platform_files.h"
#include "platform_system.h"

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

// The retry time one removal (of a tree, or of a directory's entries) has
// left, shared by all of its deletions.
class RetryTime {
 public:
  // Retries `remove` while it fails and time is left.
  template <typename Deletion>
  bool Remove(Deletion remove) {
    while (!remove()) {
      if (left_ <= 0) return false;
      platform::Pause(kRemovalRetryPauseMilliseconds);
      left_ -= kRemovalRetryPauseMilliseconds;
    }
    return true;
  }

 private:
  int left_ = kRemovalRetryMilliseconds;
};

// Which subdirectories a removal goes into: the end-of-run removal keeps
// those whose names begin with ".", but for those the walk made (`extracted`);
// emptying the work directory keeps none.
enum class DotDirectories { kKept, kRemoved };

struct RemovalRule {
  DotDirectories dots;
  const std::vector<std::string>& extracted;  // sorted

  bool Removes(const std::string& path, const std::string& name) const {
    return dots == DotDirectories::kRemoved || !name.starts_with('.') ||
           std::binary_search(extracted.begin(), extracted.end(), path);
  }
};

std::string WithSeparator(const std::string& path) {
  if (path.ends_with('\\') || path.ends_with('/')) return path;
  return path + platform::kPathSeparator;
}

bool RemoveTree(const std::string& path, RetryTime& retry, const RemovalRule& rule);

// Removes `entries`, the listing of `directory` (ending in a separator):
// files and links at once, subdirectories with everything in them. True when
// every one is gone; a kept dot-directory counts as one that stays.
bool RemoveEntries(const std::string& directory,
                   const std::vector<platform::DirectoryEntry>& entries, RetryTime& retry,
                   const RemovalRule& rule) {
  bool removed = true;
  for (const platform::DirectoryEntry& entry : entries) {
    if (entry.name == "." || entry.name == "..") continue;
    const std::string entry_path = directory + entry.name;
    if (!entry.is_directory) {
      removed = retry.Remove([&] { return platform::RemoveFile(entry_path); }) && removed;
    } else if (rule.Removes(entry_path, entry.name)) {
      removed = RemoveTree(entry_path, retry, rule) && removed;
    } else {
      removed = false;
    }
  }
  return removed;
}

bool RemoveTree(const std::string& path, RetryTime& retry, const RemovalRule& rule) {
  const std::string directory = WithSeparator(path);
  std::vector<platform::DirectoryEntry> entries;
  if (!platform::ListDirectory(directory, entries)) return false;
  RemoveEntries(directory, entries, retry, rule);
  return retry.Remove([&] { return platform::RemoveEmptyDirectory(directory); });
}

}  // namespace

bool SetUpWorkDirectory(const std::string& path) {
  platform::MakeDirectory(path);  // an existing one is reused, once emptied
  return platform::EnterDirectory(path) && EmptyDirectory(path);
}

bool EmptyDirectory(const std::string& path) {
  const std::string directory = WithSeparator(path);
  std::vector<platform::DirectoryEntry> entries;
  if (!platform::ListDirectory(directory, entries)) return false;
  RetryTime retry;
  const std::vector<std::string> none;
  return RemoveEntries(directory, entries, retry, {DotDirectories::kRemoved, none});
}

bool RemoveDirectoryTree(const std::string& path, std::vector<std::string> extracted) {
  std::sort(extracted.begin(), extracted.end());
  RetryTime retry;
  return RemoveTree(path, retry, {DotDirectories::kKept, extracted});
}

}  // namespace reader
