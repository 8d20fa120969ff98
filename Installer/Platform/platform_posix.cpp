// The platform layer on POSIX systems (Linux first: the program path comes
// from /proc/self/exe).
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform.h"
#include "platform_paths.h"
#include "platform_posix_interruptions.h"
#include "platform_posix_write.h"

extern char** environ;

namespace platform {

const char kPathSeparator = '/';
const int kErrorInvalidName = EINVAL;
const int kErrorNameTooLong = ENAMETOOLONG;
const int kErrorEndOfFile = ENODATA;
const int kErrorOutOfMemory = ENOMEM;

namespace {

template <typename Call>
auto RetryOnInterrupt(Call call) {
  decltype(call()) result;
  do {
    result = call();
  } while (result == -1 && errno == EINTR);
  return result;
}

void CloseKeepingError(int fd) {
  const int error = errno;
  close(fd);
  errno = error;
}

// Opens a directory, failing when it is a symbolic link. Trailing separators
// are dropped first: with one, open() would follow a link despite O_NOFOLLOW.
int OpenDirectoryWithoutFollowing(const std::string& path) {
  return open(std::string(WithoutTrailingSeparators(path)).c_str(),
              O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
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
// Errors and messages

int LastErrorCode() { return errno; }

void ClearLastError() { errno = 0; }

std::string SystemErrorText(int code) { return std::strerror(code); }

// ---------------------------------------------------------------------------
// Process-wide facts

InstanceGuard AcquireSingleInstance(const std::string& name) {
  // One lock file per user, in a place that does not depend on TMPDIR. /tmp is
  // shared, so a file that is not this user's own regular file is not used:
  // another user can then at most disable the guard, never block this process
  // or make it open something else. flock() dies with the process, and
  // O_CLOEXEC keeps the started program from inheriting it.
  const std::string path = "/tmp/" + name + "." + std::to_string(geteuid()) + ".lock";
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return InstanceGuard::kUnavailable;
  struct stat status;
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != geteuid()) {
    close(fd);
    return InstanceGuard::kUnavailable;
  }
  if (RetryOnInterrupt([&] { return flock(fd, LOCK_EX | LOCK_NB); }) == 0) {
    return InstanceGuard::kAcquired;  // the descriptor stays open until the process ends
  }
  const bool held_elsewhere = errno == EWOULDBLOCK;
  close(fd);
  return held_elsewhere ? InstanceGuard::kAlreadyRunning : InstanceGuard::kUnavailable;
}

bool TemporaryPath(std::string& path, size_t limit) {
  const char* value = std::getenv("TMPDIR");
  if (value == nullptr || *value == '\0') {
    path = "/tmp/";
  } else if (std::strlen(value) > limit) {
    errno = ENAMETOOLONG;
    return false;
  } else {
    path = value;
    if (!path.ends_with('/')) path += '/';
  }
  return true;
}

std::string EnvironmentValue(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  return value != nullptr ? value : "";
}

std::string ProgramPath() {
  std::string path(256, '\0');
  for (;;) {
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
    if (length < 0) return {};
    if (static_cast<size_t>(length) < path.size()) {
      path.resize(static_cast<size_t>(length));
      return path;
    }
    path.resize(path.size() * 2);  // possibly truncated: try a larger buffer
  }
}

int64_t CurrentSeconds() { return static_cast<int64_t>(std::time(nullptr)); }

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

void Pause(int milliseconds) {
  timespec left{milliseconds / 1000, (milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

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

// ---------------------------------------------------------------------------
// Extraction under a temporary name

const int kErrorFileExists = EEXIST;
const int kErrorDiskFull = ENOSPC;

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

// ---------------------------------------------------------------------------
// Processes

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

namespace {

// The program's argument vector: its path, then `arguments`, then the null
// that ends it. Points into the strings, which must outlive it.
std::vector<char*> ArgumentVector(const std::string& program,
                                  const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  return argv;
}

// While the started program runs, an interrupt from the terminal is for it,
// not for this process, which may still have work to do once it has ended
// afterwards (as system() does): from construction to destruction the
// terminal's interrupt and quit keys are ignored here, but for an interrupt
// this process catches (it keeps catching it, and passes on what the
// terminal did not send to the program itself).
class TerminalKeysIgnored {
 public:
  TerminalKeysIgnored() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGINT, CatchesInterruption(SIGINT) ? nullptr : &ignore, &saved_interrupt_);
    sigaction(SIGQUIT, &ignore, &saved_quit_);
  }
  ~TerminalKeysIgnored() {
    const int error = errno;
    sigaction(SIGINT, &saved_interrupt_, nullptr);
    sigaction(SIGQUIT, &saved_quit_, nullptr);
    errno = error;
  }
  TerminalKeysIgnored(const TerminalKeysIgnored&) = delete;
  TerminalKeysIgnored& operator=(const TerminalKeysIgnored&) = delete;

  // The keys' signals that the program gets with their default action: the
  // dispositions this process had before, unless they were ignored.
  sigset_t ProgramDefaults() const {
    sigset_t defaults;
    sigemptyset(&defaults);
    if (saved_interrupt_.sa_handler != SIG_IGN) sigaddset(&defaults, SIGINT);
    if (saved_quit_.sa_handler != SIG_IGN) sigaddset(&defaults, SIGQUIT);
    return defaults;
  }

 private:
  struct sigaction saved_interrupt_ {};
  struct sigaction saved_quit_ {};
};

// Starts `argv` with the signals `defaults` set to their default action and
// this process's signal mask, and sets `pid`; returns 0 or the error. The
// interruptions are held until the program's number is known, so that none
// is lost: from then on they are passed on to it, one caught before as well.
int SpawnPassingInterruptions(const std::vector<char*>& argv, const sigset_t& defaults,
                              pid_t& pid) {
  sigset_t interruptions, saved_mask;
  sigemptyset(&interruptions);
  for (const int signal : kInterruptionSignals) sigaddset(&interruptions, signal);
  sigprocmask(SIG_BLOCK, &interruptions, &saved_mask);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setsigmask(&attributes, &saved_mask);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  const int error = posix_spawn(&pid, argv[0], nullptr, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  if (error == 0) {
    PassInterruptionsTo(pid);
    // One caught just before the start is the program's too.
    if (const int caught = CaughtInterruption()) kill(pid, caught);
  }
  sigprocmask(SIG_SETMASK, &saved_mask, nullptr);
  return error;
}

// Waits for the program `pid` to end and collects it; stops passing
// interruptions on once it has ended. False when the wait failed.
bool WaitForProgram(pid_t pid, int& status) {
  // Waited for without reaping first: until the program is collected its
  // number cannot go to another process, which a signal might then reach.
  siginfo_t ending{};
  RetryOnInterrupt(
      [&] { return waitid(P_PID, static_cast<id_t>(pid), &ending, WEXITED | WNOWAIT); });
  PassInterruptionsTo(0);
  return RetryOnInterrupt([&] { return waitpid(pid, &status, 0); }) == pid;
}

}  // namespace

ProcessEnd RunProcess(const std::string& program, const std::string&,
                      const std::vector<std::string>& arguments, ProcessExit& exit) {
  const std::vector<char*> argv = ArgumentVector(program, arguments);
  const TerminalKeysIgnored keys;
  pid_t pid = 0;
  if (const int error = SpawnPassingInterruptions(argv, keys.ProgramDefaults(), pid)) {
    errno = error;
    return ProcessEnd::kNotStarted;
  }
  int status = 0;
  if (!WaitForProgram(pid, status)) return ProcessEnd::kWaitFailed;
  exit =
      WIFSIGNALED(status) ? ProcessExit{0, WTERMSIG(status)} : ProcessExit{WEXITSTATUS(status), 0};
  return ProcessEnd::kEnded;
}

// ---------------------------------------------------------------------------
// Text in the system's code page

std::string SystemCodePageToUtf8(std::string_view text) { return std::string(text); }

}  // namespace platform
