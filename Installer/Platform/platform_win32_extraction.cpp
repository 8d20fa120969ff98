// The platform layer on Windows: what extracting under a temporary name
// needs (exclusive creation, positioned reads, replacing renames), with the
// wide calls. Paths arrive as UTF-8 and are converted at the call.
#include <windows.h>

#include <climits>
#include <string>

#include "platform.h"
#include "win32_text.h"

namespace platform {

const int kErrorFileExists = ERROR_FILE_EXISTS;

namespace {

HANDLE ToHandle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

File File::CreateNew(const std::string& path) {
  const HANDLE handle =
      CreateFileW(WideFromUtf8(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  return File(reinterpret_cast<intptr_t>(handle));  // INVALID_HANDLE_VALUE is kClosed
}

bool File::ReadAt(int64_t offset, void* buffer, size_t size) {
  auto bytes = static_cast<char*>(buffer);
  while (size > 0) {
    // On a handle opened for synchronous reading, an offset in the
    // OVERLAPPED makes ReadFile a positioned read (the position follows it).
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset));
    at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
    const DWORD chunk = size > UINT_MAX / 2 ? UINT_MAX / 2 : static_cast<DWORD>(size);
    DWORD got = 0;
    if (!ReadFile(ToHandle(handle_), bytes, chunk, &got, &at)) return false;  // ERROR_HANDLE_EOF
    if (got == 0) {
      SetLastError(kErrorEndOfFile);
      return false;
    }
    bytes += got;
    size -= got;
    offset += got;
  }
  return true;
}

bool RenameReplacing(const std::string& from, const std::string& to) {
  const std::wstring source = WideFromUtf8(from), target = WideFromUtf8(to);
  // A virus scanner or indexer may hold a file it has just seen written for
  // a moment: a sharing violation is tried again, for as long as a removal
  // would be.
  for (int waited = 0;; waited += kRemovalRetryPauseMilliseconds) {
    if (MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    if (GetLastError() != ERROR_SHARING_VIOLATION || waited >= kRemovalRetryMilliseconds) {
      return false;
    }
    Sleep(static_cast<DWORD>(kRemovalRetryPauseMilliseconds));
  }
}

}  // namespace platform
