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

bool DirectoryMaker::Make(std::string_view path, bool path_too, std::string& failed_path,
                          int& error) {
  for (size_t end = path.find_first_of(kSeparators);;
       end = path.find_first_of(kSeparators, end + 1)) {
    if (end == std::string_view::npos && !path_too) return true;
    const std::string_view directory = path.substr(0, end);
    if (!known_.contains(std::string(directory))) {
      const std::string full = FullPath(directory);
      if (platform::MakeDirectory(full)) {
        made_.push_back(full);
      } else if (!platform::IsRealDirectory(full)) {
        failed_path = full;
        error = platform::LastErrorCode();
        return false;
      }
      known_.emplace(directory);
    }
    if (end == std::string_view::npos) return true;
  }
}

}  // namespace extraction
