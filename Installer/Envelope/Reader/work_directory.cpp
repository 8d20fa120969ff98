#include "work_directory.h"

#include <vector>

#include "platform.h"
#include "text.h"

std::string PerRunDirectory(const std::string& temporary_path, int64_t seconds) {
  const auto low = static_cast<int32_t>(static_cast<uint32_t>(seconds));
  return temporary_path + FormatText("SF%i", static_cast<int>(low)) + platform::kPathSeparator;
}

bool RemoveDirectoryTree(const std::string& path) {
  std::string directory = path;
  if (!directory.ends_with('\\') && !directory.ends_with('/')) directory += platform::kPathSeparator;

  std::vector<platform::DirectoryEntry> entries;
  if (!platform::ListDirectory(directory, entries)) return false;
  for (const platform::DirectoryEntry& entry : entries) {
    if (!entry.is_directory) {
      platform::RemoveFile(directory + entry.name);
    } else if (!entry.name.starts_with('.')) {
      RemoveDirectoryTree(directory + entry.name);
    }
  }
  return platform::RemoveEmptyDirectory(directory);
}
