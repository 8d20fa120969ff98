// Files and directories: by their paths, and relative to a directory held
// open. Implemented per system in platform_posix_files.cpp and
// platform_win32_files.cpp (by path), platform_posix_directory.cpp and
// platform_win32_directory.cpp (held open). See platform_system.h for the
// rules every platform header follows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform_system.h"

namespace platform {

// The separator the system writes between path components.
extern const char kPathSeparator;

// Creates one directory, private to this user where the system has modes.
// Separators at the end of `path` are ignored: a link in its place is never
// followed.
bool MakeDirectory(const std::string& path);

// Whether the file system that holds the directory `path` lets programs
// stored on it be started. POSIX: refused where it is mounted noexec, unknown
// when the system cannot tell. Windows: always allowed.
enum class ProgramStarts { kUnknown, kAllowed, kRefused };
ProgramStarts ProgramStartsIn(const std::string& path);

// Whether any file system can refuse to start programs (POSIX); where none
// can, ProgramStartsIn always allows.
inline constexpr bool kProgramStartsCanBeRefused = kSystemKind == SystemKind::kPosix;

// Whether `path` names a directory that no other user can change: POSIX, one
// of this user's that no one else may write to, the demands EnterDirectory
// makes (a symbolic link to one counts); Windows, a real directory. Keeps the
// last error.
bool IsPrivateDirectory(const std::string& path);

// Makes `path` the current directory, if it is a real directory: never a
// symbolic link (Windows: no reparse point, such as a junction). Where the
// temporary directory may be shared between users, only one owned by this
// user is entered: on POSIX also writable by no one else; on Windows owned
// by this process's user, or by the owner it gives what it makes.
bool EnterDirectory(const std::string& path);

// Makes `path` the current directory, without the checks of EnterDirectory.
// On Windows a directory that is any process's current directory cannot be
// removed: stepping out of it comes first.
bool ChangeDirectory(const std::string& path);

struct DirectoryEntry {
  std::string name;
  // True only for a real directory; symbolic links and other reparse points
  // are not directories here, so that removal never follows them.
  bool is_directory = false;
};

// The entries of a directory, "." and ".." included, in the system's order.
// False when the directory cannot be read or is itself a link.
bool ListDirectory(const std::string& path, std::vector<DirectoryEntry>& entries);

// Removes a non-directory entry; a link is removed as a link.
bool RemoveFile(const std::string& path);

// Removes an empty directory.
bool RemoveEmptyDirectory(const std::string& path);

// An open file with a current position. Closes itself when destroyed.
class File {
 public:
  File() = default;
  File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = kClosed; }
  File& operator=(File&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = other.handle_;
      other.handle_ = kClosed;
    }
    return *this;
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File() { Close(); }

  // Opens an existing file for reading, others may read it too.
  static File OpenForReading(const std::string& path);

  // Creates a file for writing, truncating an existing one. Never writes
  // through a symbolic link; on POSIX the file is private to this user.
  static File CreateForWriting(const std::string& path);

  bool IsOpen() const { return handle_ != kClosed; }

  // Moves the position by `distance` bytes; fails (position unchanged) when
  // the result would lie before the start of the file.
  bool Seek(int64_t distance);

  // Moves the position to the end of the file.
  bool SeekToEnd();

  // The current position, or -1 on failure.
  int64_t Position() const;

  // Reads exactly `size` bytes; a short read is a failure, reported at the end
  // of the file as kErrorEndOfFile.
  bool Read(void* buffer, size_t size);

  // Reads exactly `size` bytes starting at `offset`, in one positioned read
  // where the system allows. The current position is not used; afterwards it
  // is unspecified. A short read is a failure, kErrorEndOfFile at the end.
  bool ReadAt(int64_t offset, void* buffer, size_t size);

  // Writes all `size` bytes; a short write is a failure.
  bool Write(const void* data, size_t size);

  // Writes all `size` bytes starting at `offset`, with positioned writes,
  // so that several threads may write different parts of one file at once.
  // The current position is not used; afterwards it is unspecified.
  bool WriteAt(int64_t offset, const void* data, size_t size);

  // Closes the file and reports whether everything written reached it.
  bool Close();

 private:
  friend class Directory;
  static constexpr intptr_t kClosed = -1;
  explicit File(intptr_t handle) : handle_(handle) {}
  intptr_t handle_ = kClosed;
};

// Entries made, found, renamed and removed relative to an open directory, by
// a single name (no separator): a path component swapped for a link after
// the directory was opened is never followed, and no path grows longer than
// one name. Windows: the directory cannot be renamed or deleted while it is
// held.

// What answers to a name in a directory.
enum class EntryAtName {
  kNothing,    // no entry
  kFile,       // a regular file of exactly that name
  kDirectory,  // a real directory of exactly that name
  // Anything else: a link (Windows: any reparse point), a device or pipe, or
  // an entry whose own name is another one that the system takes for it
  // (Windows: in another case, or by its short 8.3 name).
  kOther,
};

// Whether the full path `directory` + `name` is short enough for the
// system's path calls: POSIX, shorter than PATH_MAX; Windows, within the
// 32,767 UTF-16 units of its long form ("\\?\" before it). False sets
// kErrorNameTooLong as the last error. Whatever is made in a directory held
// open stays within this, so that it can be found and removed again by its
// path.
bool FitsPath(std::string_view directory, std::string_view name);

class Directory {
 public:
  Directory() = default;
  Directory(Directory&& other) noexcept : handle_(other.handle_) { other.handle_ = kClosed; }
  Directory& operator=(Directory&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = other.handle_;
      other.handle_ = kClosed;
    }
    return *this;
  }
  Directory(const Directory&) = delete;
  Directory& operator=(const Directory&) = delete;
  ~Directory() { Close(); }

  // Opens the directory `path` itself: a link (Windows: any reparse point)
  // in its place is refused, never followed.
  static Directory Open(const std::string& path);

  bool IsOpen() const { return handle_ != kClosed; }
  void Close();

  // What answers to `name` here. Keeps the last error.
  EntryAtName Find(std::string_view name) const;

  // Opens the real directory of exactly the name `name` here. Fails with
  // kErrorPathNotFound when nothing answers to it, and with kErrorFileExists
  // when something else does (a file, a link, an entry of another name).
  Directory OpenDirectory(std::string_view name) const;

  // Makes the directory `name` here, private to this user where the system
  // has modes, and opens it. Fails with kErrorFileExists when any entry
  // answers to the name.
  Directory MakeDirectory(std::string_view name) const;

  // Creates the new file `name` here for writing, private to this user on
  // POSIX, where its owner may execute it when `executable` (on Windows any
  // file may be started). Fails with kErrorFileExists when any entry answers
  // to the name (a link included, which is never followed).
  File CreateNewFile(std::string_view name, bool executable = false) const;

  // Removes the entry `name` here that is not a directory (a link as a
  // link).
  bool RemoveFile(std::string_view name) const;

  // Closes the file `name` here, open as `file` (made by CreateNewFile), and
  // gives it the name `new_name` in `target`: where nothing answers to it,
  // or in place of a regular file of exactly that name (Windows: or where it
  // answers itself, in another case). A directory there fails with
  // kErrorIsDirectory, anything else with kErrorFileExists; a failure to
  // close fails too, and the file keeps its name. Windows: a sharing
  // violation (a scanner holding the file a moment) is tried again every
  // `pause_milliseconds` for up to `retry_milliseconds`.
  bool MoveFileTo(File& file, std::string_view name, const Directory& target,
                  std::string_view new_name, int retry_milliseconds, int pause_milliseconds) const;

 private:
  static constexpr intptr_t kClosed = -1;
  explicit Directory(intptr_t handle) : handle_(handle) {}
  intptr_t handle_ = kClosed;
};

// Sets `bytes` to the space this user may still fill on the volume that
// holds the directory `path`. False when the system cannot tell.
bool FreeDiskSpace(const std::string& path, uint64_t& bytes);

// Appends `bytes` to the file `path` in one write, creating the file where it
// is missing (POSIX: private to this user, never through a symbolic link).
// Opened for appending only, so that what two processes append never
// overwrites each other; others may read it meanwhile. False when it cannot
// be written whole. Keeps the last error: a log never changes what the
// failure it records reports.
bool AppendToLogFile(const std::string& path, std::string_view bytes);

// The absolute path of the file or directory `path` names, with links
// resolved where the system has them; empty when there is no such entry.
std::string ResolvedPath(const std::string& path);

// Lets the owner execute the regular file `path` names. POSIX: adds the
// owner's execute permission; false for anything but a regular file.
// Windows: any file may be started, nothing to do.
bool AllowOwnerToExecute(const std::string& path);

}  // namespace platform
