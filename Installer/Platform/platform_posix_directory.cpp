// Directories held open, on POSIX: every entry reached with the *at() calls
// relative to a directory descriptor, never following a symbolic link.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <string>

#include "platform_files.h"
#include "platform_paths.h"
#include "platform_posix_calls.h"

namespace platform {

namespace {

constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

int Descriptor(intptr_t handle) { return static_cast<int>(handle); }

}  // namespace

bool FitsPath(std::string_view directory, std::string_view name) {
  if (directory.size() + name.size() < PATH_MAX) return true;
  errno = ENAMETOOLONG;
  return false;
}

void Directory::Close() {
  if (handle_ == kClosed) return;
  const int error = errno;
  close(Descriptor(handle_));
  errno = error;
  handle_ = kClosed;
}

int OpenDirectoryWithoutFollowing(const std::string& path) {
  const std::string without_separators(WithoutTrailingSeparators(path));
  return RetryOnInterrupt([&] { return open(without_separators.c_str(), kDirectoryFlags); });
}

Directory Directory::Open(const std::string& path) {
  return Directory(OpenDirectoryWithoutFollowing(path));
}

namespace {

// What answers to `name` in the directory `fd`; kOther, with `error` set to
// the system's error, when the system cannot tell.
EntryAtName Look(int fd, const std::string& name, int& error) {
  struct stat status;
  error = 0;
  if (fstatat(fd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return EntryAtName::kNothing;
    error = errno;
    return EntryAtName::kOther;
  }
  if (S_ISREG(status.st_mode)) return EntryAtName::kFile;
  if (S_ISDIR(status.st_mode)) return EntryAtName::kDirectory;
  return EntryAtName::kOther;
}

}  // namespace

EntryAtName Directory::Find(std::string_view name) const {
  const int saved = errno;
  int error = 0;
  const EntryAtName found = Look(Descriptor(handle_), std::string(name), error);
  errno = saved;
  return found;
}

Directory Directory::OpenDirectory(std::string_view name) const {
  const std::string text(name);
  const int fd =
      RetryOnInterrupt([&] { return openat(Descriptor(handle_), text.c_str(), kDirectoryFlags); });
  // A link (ELOOP) or a file (ENOTDIR) where the directory should be.
  if (fd < 0 && (errno == ELOOP || errno == ENOTDIR)) errno = EEXIST;
  return Directory(fd);
}

Directory Directory::MakeDirectory(std::string_view name) const {
  const std::string text(name);
  if (mkdirat(Descriptor(handle_), text.c_str(), 0700) != 0) return Directory();
  return OpenDirectory(name);
}

File Directory::CreateNewFile(std::string_view name, bool executable) const {
  const std::string text(name);
  return File(RetryOnInterrupt([&] {
    return openat(Descriptor(handle_), text.c_str(),
                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, executable ? 0700 : 0600);
  }));
}

bool Directory::RemoveFile(std::string_view name) const {
  return unlinkat(Descriptor(handle_), std::string(name).c_str(), 0) == 0;
}

bool Directory::MoveFileTo(File& file, std::string_view name, const Directory& target,
                           std::string_view new_name, int, int) const {
  if (!file.Close()) return false;
  const std::string from(name), to(new_name);
  // Where nothing stands, in one call. A rename is never held up by another
  // process on POSIX: nothing to try again.
  if (renameat2(Descriptor(handle_), from.c_str(), Descriptor(target.handle_), to.c_str(),
                RENAME_NOREPLACE) == 0) {
    return true;
  }
  // EINVAL: a file system that cannot rename without replacing.
  if (errno != EEXIST && errno != EINVAL) return false;
  // A rename replaces whatever stands at the new name but a directory, so
  // what may be replaced is looked at first.
  int error = 0;
  switch (Look(Descriptor(target.handle_), to, error)) {
    case EntryAtName::kNothing:
    case EntryAtName::kFile: break;
    case EntryAtName::kDirectory: errno = EISDIR; return false;
    case EntryAtName::kOther: errno = error != 0 ? error : EEXIST; return false;
  }
  return renameat(Descriptor(handle_), from.c_str(), Descriptor(target.handle_), to.c_str()) == 0;
}

}  // namespace platform
