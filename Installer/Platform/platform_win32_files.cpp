// Files and directories by their paths on Windows, through the wide
// (UTF-16) Win32 calls; text arrives and leaves as UTF-8 and is converted at
// each call.
#include <windows.h>

#include <climits>

#include "platform_files.h"
#include "platform_paths.h"
#include "platform_win32_native.h"
#include "win32_text.h"

namespace platform {

const char kPathSeparator = '\\';

namespace {

constexpr DWORD kPathBufferSize = MAX_PATH;  // 260

HANDLE ToHandle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// An OVERLAPPED that names `offset`, for a positioned read or write.
OVERLAPPED OverlappedAt(int64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset));
  at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
  return at;
}

// The part of a transfer of `size` bytes that one ReadFile or WriteFile
// call takes: their sizes are 32 bits wide.
DWORD OneCallOf(size_t size) {
  constexpr DWORD kLargestCall = UINT_MAX / 2;
  return size > kLargestCall ? kLargestCall : static_cast<DWORD>(size);
}

// Reads `size` bytes, at `offset` or, when it is negative, at the current
// position. A positioned read names its offset in an OVERLAPPED, which on a
// handle opened for synchronous reading makes ReadFile read there (the
// position follows it). Fails at the end of the file (kErrorEndOfFile).
bool ReadWhole(HANDLE file, char* bytes, size_t size, int64_t offset) {
  while (size > 0) {
    OVERLAPPED at = OverlappedAt(offset);
    const DWORD chunk = OneCallOf(size);
    DWORD got = 0;
    if (!ReadFile(file, bytes, chunk, &got, offset < 0 ? nullptr : &at)) return false;
    if (got == 0) {  // the end of the file
      SetLastError(kErrorEndOfFile);
      return false;
    }
    bytes += got;
    size -= got;
    if (offset >= 0) offset += got;
  }
  return true;
}

// Writes `size` bytes, at `offset` or, when it is negative, at the current
// position, as ReadWhole reads. A write that takes nothing is a failure.
bool WriteWhole(HANDLE file, const char* bytes, size_t size, int64_t offset) {
  while (size > 0) {
    OVERLAPPED at = OverlappedAt(offset);
    DWORD written = 0;
    if (!WriteFile(file, bytes, OneCallOf(size), &written, offset < 0 ? nullptr : &at)) {
      return false;
    }
    if (written == 0) {
      SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    bytes += written;
    size -= written;
    if (offset >= 0) offset += written;
  }
  return true;
}

// The attributes of the entry `path` names itself: a link is not followed.
// False when there is no such entry.
bool OwnAttributes(const std::string& path, DWORD& attributes) {
  WIN32_FIND_DATAW data;
  const HANDLE search = FindFirstFileW(WidePath(WithoutTrailingSeparators(path)).c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  attributes = data.dwFileAttributes;
  return true;
}

bool IsLink(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

// Whether the SID `sid` is the token information `which` (TokenUser or
// TokenOwner, each a SID pointer first) of `token`.
bool TokenNames(const NativeCalls& calls, HANDLE token, TOKEN_INFORMATION_CLASS which, PSID sid) {
  // A SID and the pointer to it: SECURITY_MAX_SID_SIZE (68) and a little.
  alignas(8) char buffer[128];
  ULONG size = 0;
  return calls.query_information_token(token, which, buffer, sizeof buffer, &size) >= 0 &&
         calls.equal_sid(sid, *reinterpret_cast<PSID*>(buffer));
}

// Whether the object `object` (opened with READ_CONTROL) is owned by this
// process's user, or by the owner it gives what it makes (the
// administrators, for an elevated process).
bool IsOwnedByThisUser(HANDLE object) {
  const NativeCalls* calls = nullptr;
  if (!LookUpNativeCalls(calls)) return false;
  // A descriptor of its owner only: a header and one SID.
  alignas(8) char descriptor[128];
  ULONG size = 0;
  PSID owner = nullptr;
  BOOLEAN defaulted = FALSE;
  HANDLE token = nullptr;
  if (calls->query_security_object(object, OWNER_SECURITY_INFORMATION, descriptor,
                                   sizeof descriptor, &size) < 0 ||
      calls->get_owner(descriptor, &owner, &defaulted) < 0 || owner == nullptr ||
      calls->open_process_token(GetCurrentProcess(), TOKEN_QUERY, &token) < 0) {
    return false;
  }
  const bool owned =
      TokenNames(*calls, token, TokenUser, owner) || TokenNames(*calls, token, TokenOwner, owner);
  CloseHandle(token);
  return owned;
}

}  // namespace

// ---------------------------------------------------------------------------
// Directories

bool MakeDirectory(const std::string& path) {
  // The system ignores separators at the end, and never creates through a
  // link in the directory's place.
  return CreateDirectoryW(WidePath(path).c_str(), nullptr) != 0;
}

ProgramStarts ProgramStartsIn(const std::string&) { return ProgramStarts::kAllowed; }

bool IsPrivateDirectory(const std::string& path) {
  const DWORD error = GetLastError();
  const DWORD attributes = GetFileAttributesW(WidePath(path).c_str());
  SetLastError(error);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

bool EnterDirectory(const std::string& path) {
  // The entry itself is opened, not what a link or junction leads to, and held
  // without sharing deletion while it is checked and entered, so that it
  // cannot be renamed or replaced in between.
  const HANDLE directory =
      CreateFileW(WideFromUtf8(WithoutTrailingSeparators(path)).c_str(), GENERIC_READ,
                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (directory == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION information;
  bool entered = GetFileInformationByHandle(directory, &information) != 0;
  if (entered && ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
                  IsLink(information.dwFileAttributes))) {
    SetLastError(ERROR_DIRECTORY);
    entered = false;
  }
  // A directory in a temporary directory other users share (C:\Temp) may
  // have been made beforehand by one of them.
  if (entered && !IsOwnedByThisUser(directory)) {
    SetLastError(ERROR_ACCESS_DENIED);
    entered = false;
  }
  entered = entered && SetCurrentDirectoryW(WideFromUtf8(path).c_str()) != 0;
  const DWORD error = GetLastError();
  CloseHandle(directory);
  SetLastError(error);
  return entered;
}

bool ChangeDirectory(const std::string& path) {
  return SetCurrentDirectoryW(WideFromUtf8(path).c_str()) != 0;
}

bool ListDirectory(const std::string& path, std::vector<DirectoryEntry>& entries) {
  entries.clear();
  DWORD attributes = 0;
  if (!OwnAttributes(path, attributes)) return false;
  if (IsLink(attributes) || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    SetLastError(ERROR_DIRECTORY);
    return false;
  }
  std::string pattern = path;
  if (!pattern.ends_with('\\') && !pattern.ends_with('/')) pattern += '\\';
  pattern += '*';

  WIN32_FIND_DATAW data;
  const HANDLE search = FindFirstFileW(WidePath(pattern).c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return false;
  do {
    // A reparse point (symbolic link, junction, mount point) is no directory
    // here, so that the removal deletes the link and never what it leads to.
    const bool is_directory =
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && !IsLink(data.dwFileAttributes);
    entries.push_back({Utf8FromWide(data.cFileName), is_directory});
  } while (FindNextFileW(search, &data));
  const DWORD error = GetLastError();
  FindClose(search);
  if (error != ERROR_NO_MORE_FILES) {
    SetLastError(error);
    return false;
  }
  return true;
}

bool RemoveFile(const std::string& path) {
  const std::wstring wide = WidePath(path);
  if (DeleteFileW(wide.c_str())) return true;
  // A link to a directory is removed as a directory; RemoveDirectoryW deletes
  // the link itself, whatever the directory it leads to holds.
  const DWORD error = GetLastError();
  DWORD attributes = 0;
  if (OwnAttributes(path, attributes) && IsLink(attributes) &&
      (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return RemoveDirectoryW(wide.c_str()) != 0;
  }
  SetLastError(error);
  return false;
}

bool RemoveEmptyDirectory(const std::string& path) {
  return RemoveDirectoryW(WidePath(path).c_str()) != 0;
}

// ---------------------------------------------------------------------------
// Files

File File::OpenForReading(const std::string& path) {
  const HANDLE handle = CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  return File(reinterpret_cast<intptr_t>(handle));  // INVALID_HANDLE_VALUE is kClosed
}

File File::CreateForWriting(const std::string& path) {
  // A link in the file's place is refused, never written through.
  DWORD attributes = 0;
  if (OwnAttributes(path, attributes) && IsLink(attributes)) {
    SetLastError(ERROR_CANT_ACCESS_FILE);
    return File();
  }
  const HANDLE handle =
      CreateFileW(WideFromUtf8(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  return File(reinterpret_cast<intptr_t>(handle));
}

bool File::Seek(int64_t distance) {
  LARGE_INTEGER move;
  move.QuadPart = distance;
  return SetFilePointerEx(ToHandle(handle_), move, nullptr, FILE_CURRENT) != 0;
}

bool File::SeekToEnd() {
  LARGE_INTEGER move;
  move.QuadPart = 0;
  return SetFilePointerEx(ToHandle(handle_), move, nullptr, FILE_END) != 0;
}

int64_t File::Position() const {
  LARGE_INTEGER move, position;
  move.QuadPart = 0;
  if (!SetFilePointerEx(ToHandle(handle_), move, &position, FILE_CURRENT)) return -1;
  return position.QuadPart;
}

bool File::Read(void* buffer, size_t size) {
  return ReadWhole(ToHandle(handle_), static_cast<char*>(buffer), size, -1);
}

bool File::ReadAt(int64_t offset, void* buffer, size_t size) {
  return ReadWhole(ToHandle(handle_), static_cast<char*>(buffer), size, offset);
}

bool File::Write(const void* data, size_t size) {
  return WriteWhole(ToHandle(handle_), static_cast<const char*>(data), size, -1);
}

bool File::WriteAt(int64_t offset, const void* data, size_t size) {
  return WriteWhole(ToHandle(handle_), static_cast<const char*>(data), size, offset);
}

bool File::Close() {
  if (handle_ == kClosed) return true;
  const HANDLE handle = ToHandle(handle_);
  handle_ = kClosed;
  return CloseHandle(handle) != 0;
}

bool FreeDiskSpace(const std::string& path, uint64_t& bytes) {
  ULARGE_INTEGER available;
  if (!GetDiskFreeSpaceExW(WideFromUtf8(path).c_str(), &available, nullptr, nullptr)) return false;
  bytes = available.QuadPart;
  return true;
}

bool AppendToLogFile(const std::string& path, std::string_view bytes) {
  const DWORD error = GetLastError();
  const HANDLE file =
      CreateFileW(WideFromUtf8(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  bool whole = file != INVALID_HANDLE_VALUE;
  if (whole) {
    DWORD written = 0;
    whole = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size();
    CloseHandle(file);
  }
  SetLastError(error);
  return whole;
}

// ---------------------------------------------------------------------------
// Processes

std::string ResolvedPath(const std::string& path) {
  wchar_t buffer[kPathBufferSize];
  const DWORD length =
      GetFullPathNameW(WideFromUtf8(path).c_str(), kPathBufferSize, buffer, nullptr);
  if (length == 0 || length >= kPathBufferSize) return {};
  if (GetFileAttributesW(buffer) == INVALID_FILE_ATTRIBUTES) return {};
  return Utf8FromWide(std::wstring_view(buffer, length));
}

bool AllowOwnerToExecute(const std::string&) { return true; }

}  // namespace platform
