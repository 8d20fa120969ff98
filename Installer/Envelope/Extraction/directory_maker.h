// Making the directories that extracted paths lie in, inside the directory
// extracted to and nowhere else.
#pragma once

#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace extraction {

// Makes directories below one top directory, one component at a time. An
// entry already at a component's name is used only when it is a real
// directory: a symbolic link or junction planted there is never followed,
// and a file there is a failure. Remembers which directories it made, so
// that they can be removed whatever their names. Not for use from several
// threads.
class DirectoryMaker {
 public:
  // `top` ends in a separator and exists.
  explicit DirectoryMaker(std::string top) : top_(std::move(top)) {}

  // Makes every directory the relative path `path` passes through (its
  // components joined by "/", and on Windows also "\"), and, with
  // `path_too`, `path` itself. False on the first that cannot be made or is
  // no real directory: `failed_path` is then its full path and `error` the
  // system's error code.
  bool Make(std::string_view path, bool path_too, std::string& failed_path, int& error);

  // The full path of the relative path `path`, with the system's separator.
  std::string FullPath(std::string_view path) const;

  // The directory the paths are made in.
  const std::string& top() const { return top_; }

  // The full paths of the directories made, parents before children.
  const std::vector<std::string>& made() const { return made_; }

 private:
  std::string top_;
  std::unordered_set<std::string> known_;  // relative paths known to be real directories
  std::vector<std::string> made_;
};

}  // namespace extraction
