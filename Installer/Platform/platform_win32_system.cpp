// The system itself on Windows: errors, clocks and the environment, through
// the wide (UTF-16) Win32 calls; text arrives and leaves as UTF-8 and is
// converted at each call.
#include <windows.h>

#include "platform_system.h"
#include "win32_text.h"

namespace platform {

const int kErrorInvalidName = ERROR_INVALID_NAME;
const int kErrorNameTooLong = ERROR_FILENAME_EXCED_RANGE;
const int kErrorEndOfFile = ERROR_HANDLE_EOF;
const int kErrorOutOfMemory = ERROR_NOT_ENOUGH_MEMORY;
const int kErrorFileExists = ERROR_FILE_EXISTS;
const int kErrorDiskFull = ERROR_DISK_FULL;
// Opening a directory as a file is refused as access denied.
const int kErrorIsDirectory = ERROR_ACCESS_DENIED;
const int kErrorPathNotFound = ERROR_PATH_NOT_FOUND;

namespace {

// The first buffer a value or path is asked for in; grown when it is short.
constexpr DWORD kPathBufferSize = MAX_PATH;  // 260

// Seconds between 1601-01-01 (FILETIME's epoch) and 1970-01-01.
constexpr int64_t kFileTimeToUnixSeconds = 11644473600;

}  // namespace

int LastErrorCode() { return static_cast<int>(GetLastError()); }

void ClearLastError() { SetLastError(ERROR_SUCCESS); }

std::string SystemErrorText(int code) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
      reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  if (length == 0 || buffer == nullptr) return {};
  std::string text = Utf8FromWide(std::wstring_view(buffer, length));
  LocalFree(buffer);
  // The system's texts end in "\r\n"; drop that line break, and nothing else.
  if (text.ends_with("\r\n")) text.resize(text.size() - 2);
  return text;
}

bool TemporaryPath(std::string& path, size_t limit) {
  // The limit counts UTF-16 units, as the system's own MAX_PATH does: the
  // path must fit a buffer of `limit` units, its terminating zero included.
  std::wstring buffer(limit, L'\0');
  const DWORD length = GetTempPathW(static_cast<DWORD>(limit), buffer.data());
  if (length == 0) return false;
  if (length >= limit) {  // the size it would need, not a path
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  path = Utf8FromWide(std::wstring_view(buffer.data(), length));
  if (!path.ends_with('\\')) path += '\\';
  return true;
}

std::string EnvironmentValue(const std::string& name) {
  const std::wstring wide_name = WideFromUtf8(name);
  std::wstring value(kPathBufferSize, L'\0');
  for (;;) {
    const DWORD length =
        GetEnvironmentVariableW(wide_name.c_str(), value.data(), static_cast<DWORD>(value.size()));
    if (length == 0) return {};
    if (length < value.size()) return Utf8FromWide(std::wstring_view(value.data(), length));
    value.resize(length);  // the size it needs, its terminating zero included
  }
}

std::string ProgramPath() {
  // A truncated path would name some other file: grow the buffer instead.
  std::wstring path(kPathBufferSize, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return Utf8FromWide(path);
    }
    if (path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
}

int64_t CurrentSeconds() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return static_cast<int64_t>(ticks / 10000000) - kFileTimeToUnixSeconds;
}

void Pause(int milliseconds) { Sleep(static_cast<DWORD>(milliseconds)); }

int64_t MonotonicMilliseconds() { return static_cast<int64_t>(GetTickCount64()); }

}  // namespace platform
