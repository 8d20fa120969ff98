#include "directory_maker.h"

#include <algorithm>
#include <utility>

#include "file_names.h"
#include "retry_times.h"

namespace extraction {

namespace {

// What separates a relative path's names on this system.
constexpr std::string_view kSeparators =
    platform::kSystemKind == platform::SystemKind::kWindows ? "/\\" : "/";

// The names of a relative path, one after the other, empty and "." names
// left out.
class Names {
 public:
  explicit Names(std::string_view path) : path_(path) {}

  // The next name, and where it ends in the path; false at the end, or, with
  // `error` set, at a ".." or (on Windows) a name Windows would not hold as
  // it is.
  bool Next(std::string_view& name, size_t& end, int& error) {
    while (start_ <= path_.size()) {
      end = std::min(path_.find_first_of(kSeparators, start_), path_.size());
      name = path_.substr(start_, end - start_);
      start_ = end + 1;
      if (name.empty() || name == ".") continue;
      if (name == ".." ||
          (platform::kSystemKind == platform::SystemKind::kWindows &&
           format::WindowsNameProblemOf(name) != format::WindowsNameProblem::kNone)) {
        error = platform::kErrorInvalidName;
        return false;
      }
      return true;
    }
    return false;
  }

 private:
  std::string_view path_;
  size_t start_ = 0;
};

}  // namespace

DirectoryMaker::DirectoryMaker(std::string top)
    : top_path_(std::move(top)), top_(platform::Directory::Open(top_path_)) {
  if (!top_.IsOpen()) top_error_ = platform::LastErrorCode();
}

std::string DirectoryMaker::FullPath(std::string_view path) const {
  std::string full = top_path_;
  full.reserve(top_path_.size() + path.size());
  for (const char c : path) full += c == '/' ? platform::kPathSeparator : c;
  return full;
}

const platform::Directory* DirectoryMaker::Reach(std::string_view path, bool make,
                                                 std::string& failed_path, int& error) {
  if (!top_.IsOpen()) {
    failed_path = top_path_;
    error = top_error_;
    return nullptr;
  }
  // From the directory held, where it lies on the way, else from the top.
  const bool from_held = !held_.empty() && path.starts_with(held_) &&
                         (path.size() == held_.size() ||
                          kSeparators.find(path[held_.size()]) != std::string_view::npos);
  const size_t start = from_held ? held_.size() : 0;
  const platform::Directory* current = from_held ? &held_directory_ : &top_;
  Names names(path.substr(start));
  std::string_view name;
  size_t end = 0;
  int name_error = 0;
  while (names.Next(name, end, name_error)) {
    end += start;
    platform::Directory directory;
    if (make) directory = current->MakeDirectory(name);
    const bool made = directory.IsOpen();
    if (!made) {
      // What stands there is used only when it is a real directory of
      // exactly this name; otherwise the failure to make one is told.
      error = platform::LastErrorCode();
      directory = current->OpenDirectory(name);
      if (!make) error = platform::LastErrorCode();
    }
    if (!directory.IsOpen()) {
      failed_path = FullPath(path.substr(0, end));
      return nullptr;
    }
    if (made && name.starts_with('.'))
      made_dot_directories_.push_back(FullPath(path.substr(0, end)));
    held_directory_ = std::move(directory);
    held_ = path.substr(0, end);
    current = &held_directory_;
  }
  if (name_error != 0) {
    error = name_error;
    failed_path = FullPath(path);
    return nullptr;
  }
  return current;
}

bool DirectoryMaker::Make(std::string_view path, bool path_too, std::string& failed_path,
                          int& error) {
  const std::string_view directories = path_too ? path : Parent(path);
  if (!platform::FitsPath(top_path_, directories)) {
    failed_path = FullPath(directories);
    error = platform::LastErrorCode();
    return false;
  }
  return Reach(directories, true, failed_path, error) != nullptr;
}

std::string_view DirectoryMaker::Parent(std::string_view path) {
  const size_t separator = path.find_last_of(kSeparators);
  return path.substr(0, separator == std::string_view::npos ? 0 : separator);
}

const platform::Directory* DirectoryMaker::DirectoryOfFile(std::string_view path,
                                                           std::string_view& leaf, int& error) {
  std::string failed_path;
  const platform::Directory* directory = Reach(Parent(path), false, failed_path, error);
  if (directory == nullptr) return nullptr;
  // The file's own name, checked as the directories' are.
  const size_t separator = path.find_last_of(kSeparators);
  leaf = separator == std::string_view::npos ? path : path.substr(separator + 1);
  Names names(leaf);
  size_t end = 0;
  if (!names.Next(leaf, end, error)) {
    if (error != 0) return nullptr;
    leaf = {};  // no name: the path is a directory's
  }
  if (!platform::FitsPath(top_path_, path)) {
    error = platform::LastErrorCode();
    return nullptr;
  }
  return directory;
}

platform::File DirectoryMaker::MakeFile(std::string_view path, bool executable, int& error) {
  std::string_view leaf;
  const platform::Directory* directory = DirectoryOfFile(path, leaf, error);
  if (directory == nullptr) return platform::File();
  if (leaf.empty()) {
    error = platform::kErrorIsDirectory;
    return platform::File();
  }
  platform::File file = directory->CreateNewFile(leaf, executable);
  // An earlier file of exactly this name is replaced; nothing else is.
  if (!file.IsOpen() && platform::LastErrorCode() == platform::kErrorFileExists &&
      directory->Find(leaf) == platform::EntryAtName::kFile && directory->RemoveFile(leaf)) {
    file = directory->CreateNewFile(leaf, executable);
  }
  if (!file.IsOpen()) error = platform::LastErrorCode();
  return file;
}

void DirectoryMaker::RemoveFile(std::string_view path) {
  std::string_view leaf;
  int error = 0;
  const platform::Directory* directory = DirectoryOfFile(path, leaf, error);
  if (directory != nullptr && !leaf.empty()) directory->RemoveFile(leaf);
}

platform::File DirectoryMaker::MakeTemporaryFile(std::string& name, bool executable, int& error) {
  // How many taken names one file tries before it gives up.
  constexpr int kTries = 1000;
  if (!top_.IsOpen()) {
    error = top_error_;
    return platform::File();
  }
  for (int tries = 0; tries < kTries; ++tries, ++next_temporary_number_) {
    name = format::kTemporaryFilePrefix + std::to_string(next_temporary_number_);
    platform::File file = top_.CreateNewFile(name, executable);
    if (file.IsOpen()) return file;
    if (platform::LastErrorCode() != platform::kErrorFileExists) break;
  }
  error = platform::LastErrorCode();
  return platform::File();
}

bool DirectoryMaker::PlaceTemporaryFile(platform::File& file, const std::string& name,
                                        std::string_view path, int& error) {
  std::string_view leaf;
  const platform::Directory* directory = DirectoryOfFile(path, leaf, error);
  if (directory == nullptr || leaf.empty()) {
    if (directory != nullptr) error = platform::kErrorIsDirectory;
    file.Close();
    return false;
  }
  // A file whose name is the temporary name itself is in place already.
  if (directory == &top_ && leaf == name) {
    if (file.Close()) return true;
    error = platform::LastErrorCode();
    return false;
  }
  if (top_.MoveFileTo(file, name, *directory, leaf, kRemovalRetryMilliseconds,
                      kRemovalRetryPauseMilliseconds)) {
    return true;
  }
  error = platform::LastErrorCode();
  return false;
}

void DirectoryMaker::RemoveTemporaryFile(const std::string& name) { top_.RemoveFile(name); }

}  // namespace extraction
