#include "temporary_directory.h"

#include <vector>

namespace reader {

namespace {

// A place the work directory may go when the temporary directory does not
// let programs start, ending in a separator; `create` when it is made where
// missing.
struct StartableCandidate {
  std::string path;
  bool create = false;
};

// $XDG_RUNTIME_DIR, then the user's cache directory as the XDG base
// directory rules name it: $XDG_CACHE_HOME when it is an absolute path, else
// $HOME/.cache. The cache directory is made where it is missing.
std::vector<StartableCandidate> StartableCandidates() {
  std::vector<StartableCandidate> candidates;
  auto add = [&](const std::string& base, const char* below, bool create) {
    if (base.empty()) return;
    std::string path = base;
    if (!path.ends_with(platform::kPathSeparator)) path += platform::kPathSeparator;
    if (*below != '\0') path = path + below + platform::kPathSeparator;
    candidates.push_back({path, create});
  };
  add(platform::EnvironmentValue("XDG_RUNTIME_DIR"), "", false);
  const std::string cache_home = platform::EnvironmentValue("XDG_CACHE_HOME");
  if (cache_home.starts_with(platform::kPathSeparator)) {
    add(cache_home, "", true);
  } else {
    add(platform::EnvironmentValue("HOME"), ".cache", true);
  }
  return candidates;
}

}  // namespace

bool ChooseTemporaryDirectory(std::string& path) {
  if (!platform::TemporaryPath(path, kTemporaryPathLimit)) return false;
  if (!platform::kProgramStartsCanBeRefused ||
      platform::ProgramStartsIn(path) != platform::ProgramStarts::kRefused) {
    return true;
  }
  for (const StartableCandidate& candidate : StartableCandidates()) {
    if (candidate.path.size() > kTemporaryPathLimit) continue;
    // Only the directory itself, not its parents; mode 0700 where it is made.
    if (candidate.create) platform::MakeDirectory(candidate.path);
    if (platform::ProgramStartsIn(candidate.path) == platform::ProgramStarts::kAllowed &&
        platform::IsPrivateDirectory(candidate.path)) {
      path = candidate.path;
      break;
    }
  }
  return true;
}

}  // namespace reader
