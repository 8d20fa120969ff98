// The directory extracted to, and everything extraction makes in it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform_files.h"
#include "platform_system.h"

namespace extraction {

// Makes directories, files and temporary files below one top directory, each
// relative to an open handle of the directory it goes in: a link swapped in
// for a directory on the way after it was made is never followed, and no
// path grows longer than one name. Everything is made only where nothing
// stands yet: a directory where a real directory of exactly its name stands
// is used as it is, and a file where a regular file of exactly its name
// stands (an earlier one) replaces it; anything else in the way (a file for
// a directory, a directory for a file, a link, an entry the system takes for
// the name, in another case or by a short 8.3 name) is a failure that names
// the path, so that nothing extracted is ever lost to another name.
//
// Relative paths join their names with "/" (on Windows "\" too); empty and
// "." names are skipped, ".." is refused. On Windows every name must also be
// one Windows holds as it is (format::WindowsNameProblemOf), and a path may
// not outgrow what the system's path calls reach (platform::FitsPath), so
// that whatever is made can be removed again.
//
// Paths given in ascending order, as an archive's catalog lists them, cost
// one system call for each directory to make, and few for those known: the
// maker holds the last directory it reached, and goes on from there to the
// directories below it.
// Not for use from several threads at once.
class DirectoryMaker {
 public:
  // Opens `top`, which ends in a separator and exists; a failure to open it
  // is reported by every operation (`failed_path` the top itself).
  explicit DirectoryMaker(std::string top);

  // Makes every directory the relative path `path` passes through, and,
  // with `path_too`, `path` itself. False on the first that cannot be made
  // or used: `failed_path` is then its full path and `error` the system's
  // error code (kErrorFileExists where something else stands).
  bool Make(std::string_view path, bool path_too, std::string& failed_path, int& error);

  // Makes the file `path` for writing, its directories already made, a
  // program its owner may start when `executable`. On a failure the file is
  // not open, and `error` tells why.
  platform::File MakeFile(std::string_view path, bool executable, int& error);

  // Removes the file `path`, one this extraction made.
  void RemoveFile(std::string_view path);

  // Creates a new file in the top directory under the first of
  // kTemporaryFilePrefix + n, n + 1, ... that no entry has, n going on from
  // the number used last, a program its owner may start when `executable`;
  // `name` is set to its name. On a failure the file is not open, and
  // `error` tells why.
  platform::File MakeTemporaryFile(std::string& name, bool executable, int& error);

  // Closes the temporary file `name`, open as `file`, and gives it the path
  // `path`, its directories already made; a directory there fails with
  // platform::kErrorIsDirectory. False, with `error` set, on a failure: the
  // temporary file is then left, closed, under its name.
  bool PlaceTemporaryFile(platform::File& file, const std::string& name, std::string_view path,
                          int& error);

  // Removes the temporary file `name`.
  void RemoveTemporaryFile(const std::string& name);

  // The full path of the relative path `path`, with the system's separator.
  std::string FullPath(std::string_view path) const;

  // The directory the paths are made in.
  const std::string& top() const { return top_path_; }

  // The full paths of the dot-named directories made, parents before
  // children: an end-of-run removal that keeps the dot-named directories it
  // did not make takes these.
  const std::vector<std::string>& made_dot_directories() const { return made_dot_directories_; }

 private:
  // The open directory that the relative path `path` leads to from the
  // top, each directory on the way made first when `make` is set. Null on a
  // failure, with `failed_path` and `error` set.
  const platform::Directory* Reach(std::string_view path, bool make, std::string& failed_path,
                                   int& error);

  // The directory of the file `path` (whose last name is then `leaf`, empty
  // where the path names no file), its directories already made; null, with
  // `error` set, on a failure.
  const platform::Directory* DirectoryOfFile(std::string_view path, std::string_view& leaf,
                                             int& error);

  // `path` without its last name.
  static std::string_view Parent(std::string_view path);

  std::string top_path_;
  platform::Directory top_;
  int top_error_ = 0;
  // The last directory reached, held open, and its relative path.
  platform::Directory held_directory_;
  std::string held_;
  int next_temporary_number_ = 0;
  std::vector<std::string> made_dot_directories_;
};

}  // namespace extraction
