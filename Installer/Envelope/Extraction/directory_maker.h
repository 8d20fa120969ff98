// Making the directories that extracted paths lie in, inside the directory
// extracted to and nowhere else.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace extraction {

// Makes directories below one top directory, one component at a time. An
// entry already at a component's name is used only when it is a real
// directory: a symbolic link or junction planted there is never followed,
// and a file there is a failure. Remembers the dot-named directories it
// made (those an end-of-run removal would otherwise keep). Not for use from
// several threads.
//
// Paths given in ascending order, as an archive's catalog lists them, cost
// one system call for each directory to make and none for those known: the
// maker keeps the last directory it made or found, whose ancestors are all
// known. Memory stays that of one path, however many directories are made.
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

  // The full paths of the dot-named directories made, parents before
  // children: at most kMostRememberedDirectories of them (a damaged tree of
  // more keeps the rest at the end of the run, as a removal keeps dot-named
  // directories it did not make).
  const std::vector<std::string>& made_dot_directories() const { return made_dot_directories_; }

  static constexpr size_t kMostRememberedDirectories = 100000;

 private:
  // Whether the relative directory `directory` is `known_` or one of its
  // ancestors.
  bool Known(std::string_view directory) const;

  std::string top_;
  std::string known_;  // the last directory made or found, relative
  std::vector<std::string> made_dot_directories_;
};

}  // namespace extraction
