// The system itself on POSIX systems (Linux first: the program path comes
// from /proc/self/exe): errors, clocks, the environment.
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform_system.h"

namespace platform {

const int kErrorInvalidName = EINVAL;
const int kErrorNameTooLong = ENAMETOOLONG;
const int kErrorEndOfFile = ENODATA;
const int kErrorOutOfMemory = ENOMEM;
const int kErrorFileExists = EEXIST;
const int kErrorDiskFull = ENOSPC;
const int kErrorIsDirectory = EISDIR;
const int kErrorPathNotFound = ENOENT;

int LastErrorCode() { return errno; }

void ClearLastError() { errno = 0; }

std::string SystemErrorText(int code) { return std::strerror(code); }

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

int64_t MonotonicMilliseconds() {
  timespec now = {};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void Pause(int milliseconds) {
  timespec left{milliseconds / 1000, (milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

}  // namespace platform
