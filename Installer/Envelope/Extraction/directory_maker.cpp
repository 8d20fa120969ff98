#include "directory_maker.h"

#include "platform.h"

namespace extraction {

namespace {

// What separates a relative path's components on this system.
constexpr const char* kSeparators =
    platform::kSystemKind == platform::SystemKind::kWindows ? "/\\" : "/";

}  // namespace

std::string DirectoryMaker::FullPath(std::string_view path) const {
  std::string full = top_;
  full.reserve(top_.size() + path.size());
  for (const char c : path) full += c == '/' ? platform::kPathSeparator : c;
  return full;
}

bool DirectoryMaker::Known(std::string_view directory) const {
  return std::string_view(known_).starts_with(directory) &&
         (known_.size() == directory.size() ||
          std::string_view(kSeparators).find(known_[directory.size()]) != std::string_view::npos);
}

bool DirectoryMaker::Make(std::string_view path, bool path_too, std::string& failed_path,
                          int& error) {
  const size_t last = path.find_last_of(kSeparators);
  const std::string_view target =
      path_too ? path : path.substr(0, last == std::string_view::npos ? 0 : last);
  if (target.empty() || Known(target)) return true;
  for (size_t end = target.find_first_of(kSeparators);;
       end = target.find_first_of(kSeparators, end + 1)) {
    const std::string_view directory = target.substr(0, end);
    if (!Known(directory)) {
      const std::string full = FullPath(directory);
      if (platform::MakeDirectory(full)) {
        const std::string_view name = directory.substr(directory.find_last_of(kSeparators) + 1);
        if (name.starts_with('.') && made_dot_directories_.size() < kMostRememberedDirectories) {
          made_dot_directories_.push_back(full);
        }
      } else if (!platform::IsRealDirectory(full)) {
        failed_path = full;
        error = platform::LastErrorCode();
        return false;
      }
    }
    if (end == std::string_view::npos) break;
  }
  known_ = target;
  return true;
}

}  // namespace extraction
