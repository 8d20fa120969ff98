// Directories held open, on Windows: entries made and opened relative to a
// directory handle with NtCreateFile, and renamed into another directory
// with NtSetInformationFile, neither following a reparse point. Names are
// compared as Windows compares them (without case, and by short 8.3 names
// too), so an entry found under a name is checked for having exactly that
// name before it counts as that name's.
#include <windows.h>

#include <cstring>
#include <memory>

#include "platform_files.h"
#include "platform_paths.h"
#include "platform_win32_native.h"
#include "win32_text.h"

namespace platform {

namespace {

// NtCreateFile's dispositions.
constexpr ULONG kOpenExisting = 1;  // FILE_OPEN
constexpr ULONG kCreateNew = 2;     // FILE_CREATE

// What a held directory is opened for, and what it lets others do: everything
// but renaming or deleting it.
constexpr ACCESS_MASK kDirectoryAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES;
constexpr ULONG kDirectorySharing = FILE_SHARE_READ | FILE_SHARE_WRITE;

HANDLE ToHandle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
intptr_t FromHandle(HANDLE handle) { return reinterpret_cast<intptr_t>(handle); }

// A name given to a native call.
struct NativeName {
  explicit NativeName(std::string_view name) : wide(WideFromUtf8(name)) {
    text.Buffer = wide.data();
    text.Length = text.MaximumLength = static_cast<USHORT>(wide.size() * sizeof(wchar_t));
  }
  // Whether the name fits a native name (32,767 units), and names an entry
  // of the directory itself rather than the directory or something below it.
  bool IsOneName() const {
    return !wide.empty() && wide.size() <= 32767 && wide.find(L'\\') == std::wstring::npos;
  }
  std::wstring wide;
  UNICODE_STRING text{};
};

// Opens or creates the entry `name` of `directory`; INVALID_HANDLE_VALUE,
// with the last error set, on a failure. A name that is not one name is
// refused as invalid.
HANDLE OpenEntry(HANDLE directory, NativeName& name, ACCESS_MASK access, ULONG sharing,
                 ULONG disposition, ULONG options) {
  const NativeCalls* calls = nullptr;
  if (!LookUpNativeCalls(calls)) return INVALID_HANDLE_VALUE;
  if (!name.IsOneName()) {
    SetLastError(name.wide.size() > 32767 ? ERROR_FILENAME_EXCED_RANGE : ERROR_INVALID_NAME);
    return INVALID_HANDLE_VALUE;
  }
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &name.text, OBJ_CASE_INSENSITIVE, directory, nullptr);
  IO_STATUS_BLOCK status_block;
  HANDLE entry = nullptr;
  const NTSTATUS status = calls->create_file(
      &entry, access | SYNCHRONIZE, &attributes, &status_block, nullptr, FILE_ATTRIBUTE_NORMAL,
      sharing, disposition, options | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT,
      nullptr, 0);
  if (status < 0) {
    SetLastErrorFromStatus(*calls, status);
    // A name taken is told as exclusive creation tells it everywhere.
    if (GetLastError() == ERROR_ALREADY_EXISTS) SetLastError(ERROR_FILE_EXISTS);
    return INVALID_HANDLE_VALUE;
  }
  return entry;
}

// Whether the open entry `entry` has exactly the name `name` in its
// directory, rather than one the system takes for it (in another case, or
// its long name where `name` is its short one).
bool HasExactName(HANDLE entry, const std::wstring& name) {
  // A path of the longest kind, its terminating zero included.
  constexpr DWORD kMostUnits = 32768;
  const auto path = std::make_unique<wchar_t[]>(kMostUnits);
  const DWORD length = GetFinalPathNameByHandleW(entry, path.get(), kMostUnits,
                                                 FILE_NAME_NORMALIZED | VOLUME_NAME_NONE);
  if (length == 0 || length >= kMostUnits) return false;
  const std::wstring_view found(path.get(), length);
  const size_t separator = found.find_last_of(L'\\');
  return found.substr(separator == std::wstring_view::npos ? 0 : separator + 1) == name;
}

// What the open entry `entry`, found under `name`, is.
EntryAtName KindOf(HANDLE entry, const std::wstring& name) {
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(entry, &information) ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
      !HasExactName(entry, name)) {
    return EntryAtName::kOther;
  }
  return (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EntryAtName::kDirectory
                                                                        : EntryAtName::kFile;
}

bool IsNotFound(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// What answers to `name` in `directory`; kOther, with `error` set, when the
// system cannot tell.
EntryAtName Look(HANDLE directory, std::string_view name, DWORD& error) {
  error = 0;
  NativeName native(name);
  const HANDLE entry =
      OpenEntry(directory, native, FILE_READ_ATTRIBUTES,
                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, kOpenExisting, 0);
  if (entry == INVALID_HANDLE_VALUE) {
    if (IsNotFound(GetLastError())) return EntryAtName::kNothing;
    error = GetLastError();
    return EntryAtName::kOther;
  }
  const EntryAtName kind = KindOf(entry, native.wide);
  CloseHandle(entry);
  return kind;
}

// Whether the open entries `a` and `b` are one file.
bool IsSameFile(HANDLE a, HANDLE b) {
  BY_HANDLE_FILE_INFORMATION first, second;
  return GetFileInformationByHandle(a, &first) && GetFileInformationByHandle(b, &second) &&
         first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
         first.nFileIndexHigh == second.nFileIndexHigh &&
         first.nFileIndexLow == second.nFileIndexLow;
}

// Renames the open file `file` to `name` in `directory`, as Directory::MoveFileTo says.
bool MoveOpenFile(const NativeCalls& calls, HANDLE file, HANDLE directory, std::string_view name,
                  int retry_milliseconds, int pause_milliseconds) {
  NativeName native(name);
  const HANDLE entry =
      OpenEntry(directory, native, FILE_READ_ATTRIBUTES,
                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, kOpenExisting, 0);
  EntryAtName standing = EntryAtName::kNothing;
  if (entry != INVALID_HANDLE_VALUE) {
    standing = KindOf(entry, native.wide);
    // The file itself, found under the name in another case, takes it.
    if (standing == EntryAtName::kOther && IsSameFile(entry, file))
      standing = EntryAtName::kNothing;
    CloseHandle(entry);
  } else if (!IsNotFound(GetLastError())) {
    return false;
  }
  if (standing == EntryAtName::kDirectory || standing == EntryAtName::kOther) {
    SetLastError(standing == EntryAtName::kDirectory ? ERROR_ACCESS_DENIED : ERROR_FILE_EXISTS);
    return false;
  }
  // FILE_RENAME_INFORMATION, the name following it.
  const size_t size = sizeof(FILE_RENAME_INFORMATION) + native.wide.size() * sizeof(wchar_t);
  const auto buffer = std::make_unique<char[]>(size);
  auto* rename = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer.get());
  rename->ReplaceIfExists = standing == EntryAtName::kFile;
  rename->RootDirectory = directory;
  rename->FileNameLength = static_cast<ULONG>(native.wide.size() * sizeof(wchar_t));
  std::memcpy(rename->FileName, native.wide.data(), rename->FileNameLength);
  // A virus scanner or indexer may hold a file it has just seen written for
  // a moment: a sharing violation is tried again.
  constexpr NTSTATUS kSharingViolation = static_cast<NTSTATUS>(0xC0000043L);
  for (int waited = 0;; waited += pause_milliseconds) {
    IO_STATUS_BLOCK status_block;
    const NTSTATUS status = calls.set_information_file(
        file, &status_block, rename, static_cast<ULONG>(size), FileRenameInformation);
    if (status >= 0) return true;
    if (status != kSharingViolation || waited >= retry_milliseconds) {
      SetLastErrorFromStatus(calls, status);
      return false;
    }
    Sleep(static_cast<DWORD>(pause_milliseconds));
  }
}

}  // namespace

bool FitsPath(std::string_view directory, std::string_view name) {
  // The long form's "\\?\UNC\" (at most 8 units) and the path within
  // 32,767. UTF-8 takes at least a byte per UTF-16 unit: most paths are
  // measured by their bytes alone.
  constexpr size_t kMostUnits = 32767 - 8;
  if (directory.size() + name.size() <= kMostUnits ||
      WideFromUtf8(directory).size() + WideFromUtf8(name).size() <= kMostUnits) {
    return true;
  }
  SetLastError(ERROR_FILENAME_EXCED_RANGE);
  return false;
}

void Directory::Close() {
  if (handle_ == kClosed) return;
  const DWORD error = GetLastError();
  CloseHandle(ToHandle(handle_));
  SetLastError(error);
  handle_ = kClosed;
}

Directory Directory::Open(const std::string& path) {
  // Looked up here, on the thread that opens the first directory, before
  // any helper thread may need them.
  const NativeCalls* calls = nullptr;
  if (!LookUpNativeCalls(calls)) return Directory();
  const HANDLE directory = CreateFileW(
      WidePath(WithoutTrailingSeparators(path)).c_str(), kDirectoryAccess, kDirectorySharing,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (directory == INVALID_HANDLE_VALUE) return Directory();
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(directory, &information) ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    CloseHandle(directory);
    SetLastError(ERROR_DIRECTORY);
    return Directory();
  }
  return Directory(FromHandle(directory));
}

EntryAtName Directory::Find(std::string_view name) const {
  const DWORD saved = GetLastError();
  DWORD error = 0;
  const EntryAtName found = Look(ToHandle(handle_), name, error);
  SetLastError(saved);
  return found;
}

Directory Directory::OpenDirectory(std::string_view name) const {
  NativeName native(name);
  const HANDLE directory = OpenEntry(ToHandle(handle_), native, kDirectoryAccess, kDirectorySharing,
                                     kOpenExisting, FILE_DIRECTORY_FILE);
  if (directory == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (IsNotFound(error)) SetLastError(ERROR_PATH_NOT_FOUND);
    if (error == ERROR_DIRECTORY) SetLastError(ERROR_FILE_EXISTS);  // a file stands there
    return Directory();
  }
  if (KindOf(directory, native.wide) != EntryAtName::kDirectory) {
    CloseHandle(directory);
    SetLastError(ERROR_FILE_EXISTS);
    return Directory();
  }
  return Directory(FromHandle(directory));
}

Directory Directory::MakeDirectory(std::string_view name) const {
  NativeName native(name);
  const HANDLE directory = OpenEntry(ToHandle(handle_), native, kDirectoryAccess, kDirectorySharing,
                                     kCreateNew, FILE_DIRECTORY_FILE);
  return Directory(directory == INVALID_HANDLE_VALUE ? kClosed : FromHandle(directory));
}

File Directory::CreateNewFile(std::string_view name, bool) const {
  NativeName native(name);
  const HANDLE file = OpenEntry(ToHandle(handle_), native, GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                                kCreateNew, FILE_NON_DIRECTORY_FILE | FILE_SEQUENTIAL_ONLY);
  return File(FromHandle(file));  // INVALID_HANDLE_VALUE is kClosed
}

bool Directory::RemoveFile(std::string_view name) const {
  NativeName native(name);
  const HANDLE file = OpenEntry(ToHandle(handle_), native, DELETE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                kOpenExisting, FILE_NON_DIRECTORY_FILE | FILE_DELETE_ON_CLOSE);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

bool Directory::MoveFileTo(File& file, std::string_view, const Directory& target,
                           std::string_view new_name, int retry_milliseconds,
                           int pause_milliseconds) const {
  // Renamed through its handle, which must be open for it.
  const NativeCalls* calls = nullptr;
  if (!LookUpNativeCalls(calls) ||
      !MoveOpenFile(*calls, ToHandle(file.handle_), ToHandle(target.handle_), new_name,
                    retry_milliseconds, pause_milliseconds)) {
    const DWORD error = GetLastError();
    file.Close();
    SetLastError(error);
    return false;
  }
  return file.Close();
}

}  // namespace platform
