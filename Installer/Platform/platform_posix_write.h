// Inside the POSIX platform layer: writing a whole buffer to a descriptor,
// shared by the file, message and progress parts.
#pragma once

#include <cstddef>

namespace platform {

// Writes all `size` bytes of `data` to `fd`, retrying interrupted and short
// writes; false (errno set) on a failure.
bool WriteAll(int fd, const char* data, size_t size);

}  // namespace platform
