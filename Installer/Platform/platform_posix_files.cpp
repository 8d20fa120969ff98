// Files and directories by their paths on POSIX systems.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform_files.h"
#include "platform_paths.h"
#include "platform_posix_calls.h"
#include "platform_processes.h"

namespace platform {

const char kPathSeparator = '/';

namespace {

void CloseKeepingError(int fd) {
  const int error = errno;
  close(fd);
  errno = error;
}

// Reads `size` bytes, at `offset` or, when it is negative, at the current
// position (which then moves past them). Fails at the end of the file
// (kErrorEndOfFile), and once an interruption has been caught.
bool ReadWhole(int fd, char* bytes, size_t size, int64_t offset) {
  while (size > 0) {
    if (CaughtInterruption() != 0) {
      errno = EINTR;
      return false;
    }
    const ssize_t got = RetryOnInterrupt([&] {
      return offset < 0 ? read(fd, bytes, size)
                        : pread(fd, bytes, size, static_cast<off_t>(offset));
    });
    if (got < 0) return false;
    if (got == 0) {
      errno = kErrorEndOfFile;
      return false;
    }
    bytes += got;
    size -= static_cast<size_t>(got);
    if (offset >= 0) offset += got;
  }
  return true;
}

}  // namespace

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t written = RetryOnInterrupt([&] { return write(fd, data, size); });
    if (written < 0) return false;
    if (written == 0) {
      errno = EIO;
      return false;
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

// ---------------------------------------------------------------------------
// Directories

bool MakeDirectory(const std::string& path) {
  return mkdir(std::string(WithoutTrailingSeparators(path)).c_str(), 0700) == 0;
}

ProgramStarts ProgramStartsIn(const std::string& path) {
  struct statvfs status;
  if (statvfs(path.c_str(), &status) != 0) return ProgramStarts::kUnknown;
  return (status.f_flag & ST_NOEXEC) != 0 ? ProgramStarts::kRefused : ProgramStarts::kAllowed;
}

bool IsPrivateDirectory(const std::string& path) {
  const int error = errno;
  struct stat status;
  const bool private_directory = stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode) &&
                                 status.st_uid == geteuid() &&
                                 (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
  errno = error;
  return private_directory;
}

bool EnterDirectory(const std::string& path) {
  const int fd = OpenDirectoryWithoutFollowing(path);
  if (fd < 0) return false;
  struct stat status;
  bool entered = fstat(fd, &status) == 0;
  if (entered && (!S_ISDIR(status.st_mode) || status.st_uid != geteuid() ||
                  (status.st_mode & (S_IWGRP | S_IWOTH)) != 0)) {
    errno = EACCES;
    entered = false;
  }
  entered = entered && fchdir(fd) == 0;
  CloseKeepingError(fd);
  return entered;
}

bool ChangeDirectory(const std::string& path) { return chdir(path.c_str()) == 0; }

bool ListDirectory(const std::string& path, std::vector<DirectoryEntry>& entries) {
  entries.clear();
  const int fd = OpenDirectoryWithoutFollowing(path);
  if (fd < 0) return false;
  DIR* directory = fdopendir(fd);
  if (directory == nullptr) {
    CloseKeepingError(fd);
    return false;
  }
  while (const dirent* entry = readdir(directory)) {
    bool is_directory = entry->d_type == DT_DIR;
    if (entry->d_type == DT_UNKNOWN) {
      struct stat status;
      is_directory =
          fstatat(fd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(status.st_mode);
    }
    entries.push_back({entry->d_name, is_directory});
  }
  closedir(directory);
  return true;
}

bool RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0; }

bool RemoveEmptyDirectory(const std::string& path) { return rmdir(path.c_str()) == 0; }

// ---------------------------------------------------------------------------
// Files

File File::OpenForReading(const std::string& path) {
  const int fd = RetryOnInterrupt([&] { return open(path.c_str(), O_RDONLY | O_CLOEXEC); });
  // Large payloads are read front to back: ask for a longer read-ahead.
  if (fd >= 0) posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  return File(fd);
}

File File::CreateForWriting(const std::string& path) {
  return File(RetryOnInterrupt([&] {
    return open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  }));
}

bool File::Seek(int64_t distance) {
  return lseek(static_cast<int>(handle_), static_cast<off_t>(distance), SEEK_CUR) >= 0;
}

bool File::SeekToEnd() { return lseek(static_cast<int>(handle_), 0, SEEK_END) >= 0; }

int64_t File::Position() const { return lseek(static_cast<int>(handle_), 0, SEEK_CUR); }

bool File::Read(void* buffer, size_t size) {
  return ReadWhole(static_cast<int>(handle_), static_cast<char*>(buffer), size, -1);
}

bool File::ReadAt(int64_t offset, void* buffer, size_t size) {
  return ReadWhole(static_cast<int>(handle_), static_cast<char*>(buffer), size, offset);
}

bool File::Write(const void* data, size_t size) {
  if (CaughtInterruption() != 0) {
    errno = EINTR;
    return false;
  }
  return WriteAll(static_cast<int>(handle_), static_cast<const char*>(data), size);
}

bool File::WriteAt(int64_t offset, const void* data, size_t size) {
  auto bytes = static_cast<const char*>(data);
  while (size > 0) {
    if (CaughtInterruption() != 0) {
      errno = EINTR;
      return false;
    }
    const ssize_t written = RetryOnInterrupt(
        [&] { return pwrite(static_cast<int>(handle_), bytes, size, static_cast<off_t>(offset)); });
    if (written < 0) return false;
    bytes += written;
    size -= static_cast<size_t>(written);
    offset += written;
  }
  return true;
}

bool File::Close() {
  if (handle_ == kClosed) return true;
  const int fd = static_cast<int>(handle_);
  handle_ = kClosed;
  return close(fd) == 0;
}

bool FreeDiskSpace(const std::string& path, uint64_t& bytes) {
  struct statvfs volume;
  if (statvfs(path.c_str(), &volume) != 0) return false;
  bytes = static_cast<uint64_t>(volume.f_bavail) * volume.f_frsize;
  return true;
}

bool AppendToLogFile(const std::string& path, std::string_view bytes) {
  const int error = errno;
  const int fd = RetryOnInterrupt([&] {
    return open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  });
  bool whole = fd >= 0 && WriteAll(fd, bytes.data(), bytes.size());
  if (fd >= 0) whole = close(fd) == 0 && whole;
  errno = error;
  return whole;
}

std::string ResolvedPath(const std::string& path) {
  char* const resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return {};
  std::string text(resolved);
  std::free(resolved);
  return text;
}

bool AllowOwnerToExecute(const std::string& path) {
  struct stat status;
  if (stat(path.c_str(), &status) != 0) return false;
  if (!S_ISREG(status.st_mode)) {
    errno = EACCES;
    return false;
  }
  return chmod(path.c_str(), (status.st_mode & 07777) | S_IXUSR) == 0;
}

}  // namespace platform
