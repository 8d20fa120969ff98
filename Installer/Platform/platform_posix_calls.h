// Inside the POSIX platform layer: the call wrappers the files, directories,
// processes, messages and progress parts share.
#pragma once

#include <cerrno>
#include <cstddef>
#include <string>

namespace platform {

// Makes `call` (a system call returning -1 on failure) again for as long as
// it fails because a signal interrupted it; returns its last result.
template <typename Call>
auto RetryOnInterrupt(Call call) {
  decltype(call()) result;
  do {
    result = call();
  } while (result == -1 && errno == EINTR);
  return result;
}

// Writes all `size` bytes of `data` to `fd`, retrying interrupted and short
// writes; false (errno set) on a failure.
bool WriteAll(int fd, const char* data, size_t size);

// Opens the directory `path` itself for reading, a descriptor or -1 (errno
// set): a symbolic link in its place fails (ELOOP), never followed.
// Separators at its end are dropped first: with one, open() would follow a
// link despite O_NOFOLLOW.
int OpenDirectoryWithoutFollowing(const std::string& path);

}  // namespace platform
